#include "webpage/QtWebPageView.h"

#include "platform/core/MainQueue.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "webpage/GuardedWebEnginePage.h"
#include "webpage/MenuFilteringWebEngineView.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPixmap>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <cmath>

namespace corvex {

QWebEngineProfile* QtWebPageView::sharedProfile()
{
    static QWebEngineProfile* profile = [] {
        // No storage name: off the record, nothing written to disk. Never deleted: pages whose
        // widgets go with a deferred delete may outlive the application object, and a page
        // must never outlive its profile.
        auto* made = new QWebEngineProfile();
        made->setHttpCacheType(QWebEngineProfile::NoCache);
        made->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        QObject::connect(made, &QWebEngineProfile::downloadRequested, made,
                         [](QWebEngineDownloadRequest* download) { download->cancel(); });
        return made;
    }();
    return profile;
}

QtWebPageView::QtWebPageView()
{
    auto widget = std::make_unique<MenuFilteringWebEngineView>();
    mWebView = widget.get();
    mPage = new GuardedWebEnginePage(sharedProfile(), mWebView);
    mPage->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    mPage->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    mWebView->setPage(mPage);
    QObject::connect(mPage, &QWebEnginePage::loadingChanged, mWebView,
                     [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
    // A page still alive when the engine releases its profiles (with the application object)
    // is a fault the engine warns of ("Expect troubles").
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, mPage,
                     [page = mPage.data()] { delete page; });
    mView = EmbeddedWidgetView::create(std::move(widget));
    mView->setJoinsWindowAfterTheEvent(true);
}

QtWebPageView::~QtWebPageView()
{
    if (mPage)
        QObject::disconnect(mPage, nullptr, mWebView, nullptr);
}

std::shared_ptr<View> QtWebPageView::view()
{
    return mView;
}

void QtWebPageView::loadBypassingCaches(const QUrl& url)
{
    if (!GuardedWebEnginePage::isAllowedURL(url))
        return;
    // The profile keeps no HTTP cache, so every load bypasses it. (Clearing a cache that does
    // not exist, QWebEngineProfile::clearHttpCache, stalls the next load in Qt 6.4.)
    if (!mPage)
        return;
    ++mLoadCount;
    mMeasuredSize = Size();
    mPage->load(url);
}

bool QtWebPageView::canGoBack() const
{
    return mPage && mPage->history()->canGoBack();
}

void QtWebPageView::goBack()
{
    if (mPage)
        mPage->triggerAction(QWebEnginePage::Back);
}

void QtWebPageView::loadingChanged(const QWebEngineLoadingInfo& info)
{
    // The blank page is no page the editor asked for: its load is not told.
    if (info.url() == QUrl(QStringLiteral("about:blank")))
        return;
    const std::shared_ptr<WebPageViewClient> client = mClient.lock();
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        if (client)
            client->webPageDidStartLoading(*this);
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        mMainDocumentURL = mPage->url();
        measurePageThenFinish();
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        if (client)
            client->webPageDidFailLoading(*this);
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // Stopped by the next load: no failure.
        return;
    }
}

void QtWebPageView::measurePageThenFinish()
{
    // The engine tells its contents size only after it painted; the document's own extent
    // is asked in an isolated world, out of reach of the page's scripts.
    std::weak_ptr<QtWebPageView> weak = weak_from_this();
    const quint64 load = ++mLoadCount;
    if (!mPage)
        return;
    mPage->runJavaScript(QStringLiteral("(function() { var e = document.documentElement, b = document.body;"
                                        " return [Math.max(e ? e.scrollWidth : 0, b ? b.scrollWidth : 0),"
                                        " Math.max(e ? e.scrollHeight : 0, b ? b.scrollHeight : 0)]; })()"),
                         QWebEngineScript::ApplicationWorld, [weak, load](const QVariant& result) {
                             auto self = weak.lock();
                             if (!self || load != self->mLoadCount)
                                 return;
                             const QVariantList extent = result.toList();
                             self->mMeasuredSize = extent.size() == 2
                                                       ? Size(extent[0].toDouble(), extent[1].toDouble())
                                                       : Size();
                             if (auto client = self->mClient.lock())
                                 client->webPageDidFinishLoading(*self);
                         });
}

Size QtWebPageView::contentsSize() const
{
    if (mMeasuredSize.width > 0 && mMeasuredSize.height > 0)
        return mMeasuredSize;
    const QSizeF size = mPage ? mPage->contentsSize() : QSizeF();
    return Size(size.width(), size.height());
}

void QtWebPageView::renderTopOfPage(Size area, CaptureCompletion completion)
{
    const QSize wanted(int(std::ceil(area.width)), int(std::ceil(area.height)));
    if (wanted.isEmpty() || !mPage) {
        completion(QImage());
        return;
    }
    const Rect previous = mView->frame();
    // The drawing shows the page alone: no scroll bars, from its top left. The view itself
    // takes the area's size, so that the widget keeps it whatever lays the window out.
    mPage->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    mPage->runJavaScript(QStringLiteral("window.scrollTo(0, 0);"), QWebEngineScript::ApplicationWorld);
    mView->setFrameSize(Size(wanted.width(), wanted.height()));
    mView->updatePresentation();
    mWebView->resize(wanted);
    auto drawing = std::make_shared<Drawing>();
    drawing->wanted = wanted;
    drawing->previous = previous;
    drawing->completion = std::move(completion);
    scheduleDrawingPoll(drawing);
}

void QtWebPageView::scheduleDrawingPoll(const std::shared_ptr<Drawing>& drawing)
{
    std::weak_ptr<QtWebPageView> weak = weak_from_this();
    MainQueue::postAfter(DrawingPollInterval, [weak, drawing] {
        if (auto self = weak.lock())
            self->pollDrawing(drawing);
        else
            drawing->completion(QImage());
    });
}

QImage QtWebPageView::grabDrawing(const Drawing& drawing) const
{
    return mWebView->grab(QRect(QPoint(0, 0), drawing.wanted)).toImage();
}

void QtWebPageView::pollDrawing(const std::shared_ptr<Drawing>& drawing)
{
    if (++drawing->polls > MaxDrawingPolls) {
        finishDrawing(*drawing, grabDrawing(*drawing));
        return;
    }
    // A layout of the window may have given the view its place back meanwhile.
    const Size wanted(drawing->wanted.width(), drawing->wanted.height());
    if (mView->frame().size != wanted) {
        mView->setFrameSize(wanted);
        mView->updatePresentation();
    }
    // First the page must have the new size; then the drawing is taken once two grabs in a
    // row agree (the engine paints a resized page in several passes). Only a digest of the
    // previous grab is kept, so that a drawing never holds two bitmaps of its size.
    if (!mPage) {
        finishDrawing(*drawing, QImage());
        return;
    }
    std::weak_ptr<QtWebPageView> weak = weak_from_this();
    mPage->runJavaScript(
        QStringLiteral("[window.innerWidth, window.innerHeight]"), QWebEngineScript::ApplicationWorld,
        [weak, drawing](const QVariant& result) {
            auto self = weak.lock();
            if (!self) {
                drawing->completion(QImage());
                return;
            }
            const QVariantList size = result.toList();
            const bool sized = size.size() == 2 && size[0].toInt() == drawing->wanted.width() &&
                               size[1].toInt() == drawing->wanted.height();
            if (sized) {
                QImage grab = self->grabDrawing(*drawing);
                const QByteArray digest =
                    grab.isNull()
                        ? QByteArray()
                        : QCryptographicHash::hash(QByteArrayView(grab.constBits(), grab.sizeInBytes()),
                                                   QCryptographicHash::Sha1);
                if (!digest.isEmpty() && digest == drawing->lastDigest) {
                    self->finishDrawing(*drawing, std::move(grab));
                    return;
                }
                drawing->lastDigest = digest;
            }
            self->scheduleDrawingPoll(drawing);
        });
}

void QtWebPageView::finishDrawing(Drawing& drawing, QImage image)
{
    mView->setFrame(drawing.previous);
    if (mPage)
        mPage->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, true);
    mView->updatePresentation();
    if (!image.isNull() && image.size() != drawing.wanted)
        image = image.scaled(drawing.wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    drawing.completion(image);
}

void QtWebPageView::loadBlankPage()
{
    ++mLoadCount;
    if (mPage)
        mPage->setUrl(QUrl(QStringLiteral("about:blank")));
}

} // namespace corvex
