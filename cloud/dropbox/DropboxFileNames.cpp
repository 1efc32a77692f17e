#include "cloud/dropbox/DropboxFileNames.h"

#include "model/Globals.h"
#include "storage/AttachmentNames.h"

#include <atomic>
#include <cstdint>

namespace corvex {

const QString DropboxFileNames::IndexFileName = QStringLiteral("corvex.index");
const QString DropboxFileNames::RemoteAttachmentsPath = QStringLiteral("/attachments");

namespace {

QString nextName(const char* prefix, const char* extension)
{
    static std::atomic<std::int64_t> counter{0};
    const std::int64_t n = ++counter;
    return QStringLiteral("%1%2_%3.%4")
        .arg(QLatin1String(prefix))
        .arg(Globals::currentTimeMillis())
        .arg(n)
        .arg(QLatin1String(extension));
}

QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace

QString DropboxFileNames::createLocalCRVXFileName()
{
    return nextName("file", "crvx");
}

QString DropboxFileNames::createLocalDownloadFileName()
{
    return nextName("download", "crvx");
}

QString DropboxFileNames::createLocalIndexFileName()
{
    return nextName("file", "index");
}

QString DropboxFileNames::createDropboxCRVXFileName()
{
    return nextName("id", "crvx");
}

QString DropboxFileNames::dropboxPathForFile(const QString& name)
{
    return QLatin1Char('/') + name;
}

QString DropboxFileNames::createDropboxIndexFilePath()
{
    return dropboxPathForFile(IndexFileName);
}

QString DropboxFileNames::dropboxPathFromFileURL(const QString& docIdentifier)
{
    return QLatin1Char('/') + lastComponent(docIdentifier);
}

QString DropboxFileNames::dropboxPathForAttachment(const QString& name)
{
    return RemoteAttachmentsPath + QLatin1Char('/') + name;
}

QString DropboxFileNames::fileURLFromDropboxPath(const QString& path)
{
    return QStringLiteral("dropbox:") + path;
}

bool DropboxFileNames::isAcceptableDocumentPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    const QString name = path.mid(1);
    return AttachmentNames::isSafeFileName(name) && !name.startsWith(QLatin1Char('.')) &&
           name.endsWith(QStringLiteral(".crvx"));
}

bool DropboxFileNames::isAcceptableAttachmentName(const QString& name)
{
    // One point only: a save's temporary ("<name>.corvex-tmp-...") is never taken for one.
    return !name.startsWith(QLatin1Char('.')) && name.count(QLatin1Char('.')) == 1 &&
           AttachmentNames::isAcceptableAttachmentName(name);
}

} // namespace corvex
