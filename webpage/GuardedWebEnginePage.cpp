#include "webpage/GuardedWebEnginePage.h"

namespace corvex {

GuardedWebEnginePage::GuardedWebEnginePage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent)
{
    // Certificate errors are refused (the default answer when nobody accepts them).
}

bool GuardedWebEnginePage::isAllowedURL(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("qrc"))
        return true;
    return url == QUrl(QStringLiteral("about:blank"));
}

bool GuardedWebEnginePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (!isAllowedURL(url))
        return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

QWebEnginePage* GuardedWebEnginePage::createWindow(WebWindowType)
{
    // Pop-ups and "open in new window" never leave the editor.
    return nullptr;
}

} // namespace corvex
