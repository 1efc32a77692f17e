#pragma once

#include "graphics/QVImage.h"
#include "model/Idea.h"
#include "model/IdeaValues.h"
#include "platform/core/Completion.h"
#include "platform/gfx/Rect.h"
#include "toolkit/BaseViewController.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class View;

// The seams through which the mind-map screen reaches the screens and views other parts of
// the application build: the top bar, the overview graph, and the three editors. Each is an
// interface with a factory the owning part registers at start-up; without a factory the
// screen logs the missing piece and goes on without it (no top bar, no overview, no editor).
// Main thread only.

// ---- Top bar ----

// What the top bar reports: action 1 home, 2 mind-map toggle, 3 content (the pressed
// button's rectangle in the screen's view); a change of the search text (true when it differs
// from the one last reported), on the next turn of the main queue, and when editing ends.
class TopBarServicesDelegate
{
public:
    virtual ~TopBarServicesDelegate();
    virtual void topBarAction(int action, const Rect& fromRect) = 0;
    virtual void topBarSearchStatusDidChange(bool changed) = 0;
};

class TopBarServices
{
public:
    using Factory = std::function<std::shared_ptr<TopBarServices>()>;

    virtual ~TopBarServices();

    // The height of the strip the bar takes at the top of a screen.
    static double preferredHeight() { return 40.0; }

    // The bar's view, laid out by the screen.
    virtual std::shared_ptr<View> view() const = 0;
    virtual void setDelegate(std::weak_ptr<TopBarServicesDelegate> delegate) = 0;
    // The search field's text (empty when nothing is typed); null or empty clears it.
    virtual QString currentSearchText() const = 0;
    virtual void setCurrentSearchText(const QString& text) = 0;
    virtual bool isEditingSearchText() const = 0;
    virtual void startEditingSearchText() = 0;
    virtual void setContentAction(bool shown) = 0;
    virtual void setMindmapToggleAction(bool shown, bool toggled) = 0;
    virtual void setHomeAction(bool shown) = 0;

    static void setFactory(Factory factory);
    // A bar from the registered factory; null without one.
    static std::shared_ptr<TopBarServices> create();
};

// ---- Overview graph ----

class OverviewGraphDelegate
{
public:
    virtual ~OverviewGraphDelegate();
    virtual void onIdeaSelected(const IdeaPtr& idea) = 0;
    virtual void openIdeaInNewWindow(const IdeaPtr& idea) = 0;
    virtual bool canOpenIdeaInNewWindow() = 0;
};

class OverviewGraph
{
public:
    using Factory = std::function<std::shared_ptr<OverviewGraph>()>;

    virtual ~OverviewGraph();

    virtual std::shared_ptr<View> view() const = 0;
    virtual void setDelegate(std::weak_ptr<OverviewGraphDelegate> delegate) = 0;
    // Rebuilds the overview of the tree from `root` and resets the zoom; the ideas the search
    // text does not find are drawn faded (an empty text finds every idea). A search may be
    // shown a little later than asked, the last one asked for winning.
    virtual void setCurrentIdea(const IdeaPtr& root, const QString& searchText) = 0;

    static void setFactory(Factory factory);
    static std::shared_ptr<OverviewGraph> create();
};

// ---- Editors ----

// Told once when the idea editor's popover has closed.
class IdeaEditorDelegate
{
public:
    virtual ~IdeaEditorDelegate();
    virtual void editIdeaViewDidClose() = 0;
};

// The idea editor in a popover: preset with the idea's values, read after it closes. The
// values travel as one bundle keyed by the members' table (the members it marks edited), so
// a member the editor gains crosses this seam without a change here.
class IdeaEditor
{
public:
    virtual ~IdeaEditor();

    virtual void setDelegate(std::weak_ptr<IdeaEditorDelegate> delegate) = 0;
    virtual void setValues(const IdeaValues& values) = 0;
    virtual const IdeaValues& values() const = 0;
    // Whether a value differs from the one present when shown, or recolouring was asked for.
    virtual bool didChange() const = 0;
    virtual bool didRecolor() const = 0;

    // Shows the popover on the maximum-y edge of `anchor` (in `view`'s coordinates).
    virtual void showRelativeToRect(const Rect& anchor, View& view) = 0;
    // Closes the popover as if the user had (the delegate is told).
    virtual void close() = 0;
};

// The picture viewer and web-link editor ask their delegate to dismiss them when done.
class PictureViewerDelegate
{
public:
    virtual ~PictureViewerDelegate();
    virtual void pleaseDismissPictureView(ViewController& viewer) = 0;
};

class WebLinkEditorDelegate
{
public:
    virtual ~WebLinkEditorDelegate();
    virtual void pleaseDismissHTMLPageView(ViewController& editor) = 0;
};

// A screen presented with a slide-up transition; `finish` ends it as if the user were done
// (closing a window with an editor up keeps its result).
class PictureViewer : public BaseViewController
{
public:
    using ImageCompletion = Completion<const QVImage&>;
    // Asked once, for the picture to show.
    using Loader = std::function<void(ImageCompletion completion)>;

    // The new picture when the user changed it, else a null image.
    virtual QVImage changedImage() const = 0;
    virtual void finish() = 0;
};

class WebLinkEditor : public BaseViewController
{
public:
    // The accepted address; null when the user cancelled.
    virtual QString resultURL() const = 0;
    // A picture captured from the accepted page; null when the capture failed.
    virtual QVImage resultPageImage() const = 0;
    virtual void finish() = 0;
};

class EditorFactory
{
public:
    virtual ~EditorFactory();

    virtual std::shared_ptr<IdeaEditor> makeIdeaEditor() = 0;
    virtual std::shared_ptr<PictureViewer> makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                                             PictureViewer::Loader loader) = 0;
    // A null address opens the editor for a new link.
    virtual std::shared_ptr<WebLinkEditor> makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                                             const QString& urlString) = 0;

    static void setCurrent(std::shared_ptr<EditorFactory> factory);
    // The registered factory; null without one.
    static std::shared_ptr<EditorFactory> current();
};

} // namespace corvex
