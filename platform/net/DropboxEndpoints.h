#pragma once

#include <QString>
#include <QUrl>

namespace corvex {

// Where the Dropbox client sends its requests: the RPC host, the content host and the sign-in
// page. The real service's by default; each can be pointed elsewhere (tests use an emulator on
// 127.0.0.1) through CORVEX_DROPBOX_API_URL, CORVEX_DROPBOX_CONTENT_URL and
// CORVEX_DROPBOX_AUTHORIZE_URL.
struct DropboxEndpoints
{
    QString apiBase = QStringLiteral("https://api.dropboxapi.com");
    QString contentBase = QStringLiteral("https://content.dropboxapi.com");
    QString authorizePage = QStringLiteral("https://www.dropbox.com/oauth2/authorize");

    static DropboxEndpoints fromEnvironment();
    // Every base at one server (the emulator serves all three).
    static DropboxEndpoints atServer(const QString& base);

    // "<api>/2/<route>", "<content>/2/<route>".
    QUrl apiRoute(const QString& route) const;
    QUrl contentRoute(const QString& route) const;
    QUrl tokenUrl() const;
};

} // namespace corvex
