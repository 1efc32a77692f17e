#pragma once

#include "editor/WebPageView.h"

#include <QImage>
#include <QPointer>
#include <memory>

class QWebEngineLoadingInfo;
class QWebEngineProfile;

namespace corvex {

class EmbeddedWidgetView;
class GuardedWebEnginePage;
class MenuFilteringWebEngineView;

// The web-link editor's page view on Qt WebEngine: a QWebEngineView shown through an
// EmbeddedWidgetView, on one off-the-record profile without an HTTP cache whose downloads
// are all refused. Main-frame starts and real failures are reported; a load stopped by the
// next one is not. The top of the page is drawn by sizing the view to the area wanted,
// scrolled to the top, and grabbing it once the engine has painted it (the page reports the
// new size and two grabs in a row agree; at most 4 s). Once the application quits the page
// is gone and the view shows and loads nothing. Main thread only.
class QtWebPageView : public WebPageView, public std::enable_shared_from_this<QtWebPageView>
{
public:
    // A drawing polls the engine this often, at most this many times.
    static constexpr double DrawingPollInterval = 0.1;
    static constexpr int MaxDrawingPolls = 40;

    QtWebPageView();
    ~QtWebPageView() override;

    std::shared_ptr<View> view() override;
    void setClient(std::weak_ptr<WebPageViewClient> client) override { mClient = std::move(client); }
    void loadBypassingCaches(const QUrl& url) override;
    bool canGoBack() const override;
    void goBack() override;
    QUrl mainDocumentURL() const override { return mMainDocumentURL; }
    Size contentsSize() const override;
    void renderTopOfPage(Size area, CaptureCompletion completion) override;
    void loadBlankPage() override;

    // The one profile every page view uses (made on first use, kept to the end).
    static QWebEngineProfile* sharedProfile();

private:
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void measurePageThenFinish();
    // A drawing under way: the area, the view's frame to go back to, the last grab's digest.
    struct Drawing
    {
        QSize wanted;
        Rect previous;
        CaptureCompletion completion;
        QByteArray lastDigest;
        int polls = 0;
    };
    void scheduleDrawingPoll(const std::shared_ptr<Drawing>& drawing);
    void pollDrawing(const std::shared_ptr<Drawing>& drawing);
    void finishDrawing(Drawing& drawing, QImage image);
    QImage grabDrawing(const Drawing& drawing) const;

    std::weak_ptr<WebPageViewClient> mClient;
    std::shared_ptr<EmbeddedWidgetView> mView;
    MenuFilteringWebEngineView* mWebView = nullptr; // owned by mView
    // Owned by mWebView; deleted when the application quits, since a page must go before the
    // engine releases its profile with the application object.
    QPointer<GuardedWebEnginePage> mPage;
    QUrl mMainDocumentURL;
    // The document's extent measured after the last finished load.
    Size mMeasuredSize;
    // Counts loads, so that a late measurement of an earlier page is dropped.
    quint64 mLoadCount = 0;
};

} // namespace corvex
