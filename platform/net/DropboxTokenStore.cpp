#include "platform/net/DropboxTokenStore.h"

#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>

namespace corvex {

namespace {

constexpr qint64 MaxTokenFileBytes = 64 * 1024;

} // namespace

QString DropboxTokenStore::defaultPath()
{
    return Paths::applicationSupport() + QLatin1Char('/') + Paths::appFolderName() +
           QStringLiteral("/dropbox-credentials.json");
}

DropboxTokenStore::DropboxTokenStore(QString path) : mPath(std::move(path)) {}

QByteArray DropboxTokenStore::encode(const DropboxCredentials& credentials)
{
    QJsonObject object;
    object.insert(QStringLiteral("access_token"), credentials.accessToken);
    if (!credentials.refreshToken.isEmpty())
        object.insert(QStringLiteral("refresh_token"), credentials.refreshToken);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<DropboxCredentials> DropboxTokenStore::decode(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue access = object.value(QStringLiteral("access_token"));
    const QJsonValue refresh = object.value(QStringLiteral("refresh_token"));
    if (!access.isString() || access.toString().isEmpty())
        return std::nullopt;
    if (!refresh.isUndefined() && !refresh.isString())
        return std::nullopt;
    return DropboxCredentials{access.toString(), refresh.toString()};
}

std::optional<DropboxCredentials> DropboxTokenStore::load() const
{
    const Result<QByteArray> bytes = WholeFileReader::read(mPath, MaxTokenFileBytes);
    if (!bytes)
        return std::nullopt;
    return decode(bytes.value());
}

Status DropboxTokenStore::save(const DropboxCredentials& credentials) const
{
    if (const Status made = Paths::makePath(QFileInfo(mPath).absolutePath()); !made)
        return made;
    SaveFile file(mPath);
    if (const Status opened = file.open(); !opened)
        return opened;
    // The tokens are the account: whatever mode an older file had, this one is the user's alone.
    if (SysCalls::fchmod(file.handle(), 0600) != 0)
        return Error::posix(errno, QStringLiteral("fchmod"), mPath);
    file.write(encode(credentials));
    return file.commit();
}

Status DropboxTokenStore::remove() const
{
    if (SysCalls::unlink(QFile::encodeName(mPath).constData()) != 0 && errno != ENOENT)
        return Error::posix(errno, QStringLiteral("unlink"), mPath);
    return Status::success();
}

} // namespace corvex
