#include "export/WebExportResources.h"

#include "formats/ZipWrapper.h"
#include "model/StringExtensions.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"

#include <QDir>
#include <QFile>
#include <mutex>

// Q_INIT_RESOURCE must be used at global scope.
static void initWebExportResources()
{
    Q_INIT_RESOURCE(web);
}

namespace corvex {

namespace {

std::mutex& folderMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString& testFolder()
{
    static QString folder;
    return folder;
}

// The archives are a few megabytes; anything far larger is not ours.
constexpr qint64 kMaxResourceBytes = qint64(64) << 20;

} // namespace

const QString WebExportResources::ErrorDomain = QStringLiteral("document");

void WebExportResources::setResourceFolderForTesting(const QString& folder)
{
    const std::lock_guard lock(folderMutex());
    testFolder() = folder;
}

std::optional<QByteArray> WebExportResources::resourceData(const QString& name, const QString& type)
{
    static std::once_flag once;
    std::call_once(once, initWebExportResources);
    QString folder;
    {
        const std::lock_guard lock(folderMutex());
        folder = testFolder();
    }
    const QString fileName = name + QLatin1Char('.') + type;
    if (!folder.isEmpty()) {
        Result<QByteArray> bytes = WholeFileReader::read(QDir(folder).filePath(fileName), kMaxResourceBytes);
        if (bytes.ok())
            return bytes.value();
        Log::error(QStringLiteral("Web export: resource %1 cannot be read").arg(fileName));
        return std::nullopt;
    }
    QFile file(QStringLiteral(":/web/") + fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Log::error(QStringLiteral("Web export: resource %1 is missing").arg(fileName));
        return std::nullopt;
    }
    return file.readAll();
}

std::optional<QString>
WebExportResources::processResourceTemplate(const QString& name, const QString& type,
                                            const QList<QPair<QString, QString>>& params)
{
    const std::optional<QByteArray> bytes = resourceData(name, type);
    if (!bytes) {
        Log::assertionFailure(QStringLiteral("Web export template %1.%2 cannot be read").arg(name, type));
        return std::nullopt;
    }
    QString text = QString::fromUtf8(*bytes);
    for (const auto& [key, value] : params)
        text.replace(key, value);
    return text;
}

std::optional<QString> WebExportResources::createDataIndexHtml(const QString& title)
{
    return processResourceTemplate(
        QStringLiteral("web_index"), QStringLiteral("html"),
        {{QStringLiteral("{{title}}"), StringExtensions::xmlSimpleEscapeString(title)}});
}

std::optional<QString> WebExportResources::createHowtoHtml()
{
    return processResourceTemplate(QStringLiteral("web_howto"), QStringLiteral("html"), {});
}

Error WebExportResources::unpackArchive(const QString& name, const QString& scratchFolder,
                                        const QString& destination)
{
    const auto failure = [&](const QString& why) {
        Log::error(QStringLiteral("Web export: %1.zip: %2").arg(name, why));
        return Error(ErrorDomain, UnpackFailedCode, why);
    };
    const std::optional<QByteArray> archive = resourceData(name, QStringLiteral("zip"));
    if (!archive)
        return failure(QStringLiteral("the resource is missing"));
    const QString copy = QDir(scratchFolder).filePath(name + QStringLiteral(".zip"));
    const Status written = SaveFile::writeAtomically(copy, *archive);
    if (!written.ok())
        return failure(written.error().localizedDescription());
    Error unzipError;
    if (!ZipWrapper::unzipFileAtPath(copy, destination, true, QString(), &unzipError))
        return failure(unzipError.isNull() ? QStringLiteral("unzip failed")
                                           : unzipError.localizedFailureReason());
    return Error();
}

} // namespace corvex
