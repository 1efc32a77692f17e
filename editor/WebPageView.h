#pragma once

#include "platform/core/Completion.h"
#include "platform/gfx/Rect.h"

#include <QImage>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

class View;
class WebPageView;

// What a page view reports about its main frame; each on the main thread, sub-frames never.
class WebPageViewClient
{
public:
    virtual ~WebPageViewClient();
    virtual void webPageDidStartLoading(WebPageView& page) = 0;
    virtual void webPageDidFinishLoading(WebPageView& page) = 0;
    // A real failure (refused connection, unknown host, missing resource); a load stopped
    // because another began is not reported.
    virtual void webPageDidFailLoading(WebPageView& page) = 0;
};

// The web engine behind the web-link editor: one page in a view. The application registers
// the Qt WebEngine one (its own library, linked by the application only); without a factory
// no page view exists and the editor shows no page. Implementations refuse every scheme
// but http, https and the compiled-in "qrc" pages, open no windows, download nothing, and
// offer a context menu without the new-window and download items. Main thread only.
class WebPageView
{
public:
    using Factory = std::function<std::shared_ptr<WebPageView>()>;
    // A drawing of the page; a null image when it could not be drawn.
    using CaptureCompletion = Completion<const QImage&>;

    virtual ~WebPageView();

    // The view to place in the editor's view tree.
    virtual std::shared_ptr<View> view() = 0;
    // Held weakly.
    virtual void setClient(std::weak_ptr<WebPageViewClient> client) = 0;
    // Loads the address in the main frame, bypassing every cache.
    virtual void loadBypassingCaches(const QUrl& url) = 0;
    virtual bool canGoBack() const = 0;
    virtual void goBack() = 0;
    // The main document's address after the last finished load; empty before.
    virtual QUrl mainDocumentURL() const = 0;
    // The size of the whole page (its contents) in points; empty before a page is shown.
    virtual Size contentsSize() const = 0;
    // Draws the part (0, 0, area) of the page, from its top left, into a bitmap of that size
    // and answers it once, later, on the main thread (a null image when that failed).
    virtual void renderTopOfPage(Size area, CaptureCompletion completion) = 0;
    // An empty page (stops whatever the page was playing).
    virtual void loadBlankPage() = 0;

    static void setFactory(Factory factory);
    static bool hasFactory();
    // A page view from the registered factory; null without one.
    static std::shared_ptr<WebPageView> create();
};

} // namespace corvex
