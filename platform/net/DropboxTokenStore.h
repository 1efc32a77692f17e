#pragma once

#include "platform/core/Result.h"

#include <QString>
#include <optional>

namespace corvex {

// The tokens of the signed-in Dropbox account.
struct DropboxCredentials
{
    QString accessToken;
    QString refreshToken; // empty for a token that cannot be refreshed

    friend bool operator==(const DropboxCredentials&, const DropboxCredentials&) = default;
};

// The tokens on disk: one small JSON file, mode 0600, in the application's folder under the
// XDG data directory, replaced whole through SaveFile. A file that is missing, unreadable or
// not the expected JSON is no sign-in.
class DropboxTokenStore
{
public:
    // <data>/com.tallowfen.corvex/dropbox-credentials.json
    static QString defaultPath();

    explicit DropboxTokenStore(QString path = defaultPath());

    std::optional<DropboxCredentials> load() const;
    [[nodiscard]] Status save(const DropboxCredentials& credentials) const;
    // Succeeds when no file is left.
    [[nodiscard]] Status remove() const;

    const QString& path() const { return mPath; }

    // The file's content, and its reading (also the fuzz target's way in).
    static QByteArray encode(const DropboxCredentials& credentials);
    static std::optional<DropboxCredentials> decode(const QByteArray& bytes);

private:
    QString mPath;
};

} // namespace corvex
