#pragma once

#include <QWebEnginePage>

namespace corvex {

// A page that goes only where a web link may: http and https addresses, the application's
// own "qrc" pages (the missing page) and the blank page. It opens no windows and refuses
// certificate errors. Main thread only.
class GuardedWebEnginePage : public QWebEnginePage
{
public:
    GuardedWebEnginePage(QWebEngineProfile* profile, QObject* parent);

    // Whether a main-frame or sub-frame address may load.
    static bool isAllowedURL(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
};

} // namespace corvex
