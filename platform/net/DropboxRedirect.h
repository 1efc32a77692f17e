#pragma once

#include <QString>
#include <QUrl>
#include <optional>

namespace corvex {

// What the sign-in page sent back through the redirect URL "db-<app key>://2/token?...":
// the authorisation code and the state we sent, or an error ("access_denied" when the user
// declined). Parameters are read from the query; a URL of another scheme or path, or one
// carrying neither a code nor an error, is no answer.
struct DropboxRedirect
{
    QString state;
    QString code;
    QString error;
    QString errorDescription;

    bool isCancel() const { return error == QLatin1String("access_denied"); }

    // The URL the sign-in page is asked to send its answer to.
    static QString redirectUri(const QString& scheme);
    static std::optional<DropboxRedirect> parse(const QUrl& url, const QString& scheme);
};

} // namespace corvex
