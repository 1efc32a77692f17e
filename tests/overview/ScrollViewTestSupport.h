#pragma once

// The scroll view's test rig: a 1600 x 1000 document window on virtual time holding one overview,
// a recording delegate and note hover double, and helpers that wait for the tiles.

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/NoteHoverUtility.h"
#include "overview/GraphScrollView.h"
#include "overview/GraphTileFactory.h"
#include "overview/GraphTileLayer.h"
#include "platform/ui/Window.h"
#include "tests/overview/TiledViewTestSupport.h"
#include "toolkit/BaseView.h"

#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace corvex::test {

class RecordingOverviewDelegate : public OverviewGraphDelegate
{
public:
    void onIdeaSelected(const IdeaPtr& idea) override { selected.push_back(idea); }
    void openIdeaInNewWindow(const IdeaPtr& idea) override { inNewWindow.push_back(idea); }
    bool canOpenIdeaInNewWindow() override { return newWindows; }
    std::vector<IdeaPtr> selected;
    std::vector<IdeaPtr> inNewWindow;
    bool newWindows = false;
};

struct HoverRecord
{
    std::optional<QString> note;
    Point point;
};

class RecordingNoteHover : public NoteHoverUtility
{
public:
    explicit RecordingNoteHover(std::vector<HoverRecord>* records) : mRecords(records) {}
    void observeCursorHoveringOver(const std::optional<QString>& note, Point viewPoint) override
    {
        mRecords->push_back({note, viewPoint});
    }

private:
    std::vector<HoverRecord>* mRecords;
};

// A document window: a Window that offers a container view.
class OverviewDocumentWindow : public Window, public DocumentWindowServices
{
public:
    explicit OverviewDocumentWindow(Size size) : Window(size) {}
    std::shared_ptr<View> containerView() const override { return container; }
    std::shared_ptr<View> container;
};

class ScrollViewRig
{
public:
    explicit ScrollViewRig(Size size = Size(1600, 1000))
    {
        NoteHoverUtility::setFactory([this](std::weak_ptr<NoteHoverUtilityDelegate>) {
            return std::make_unique<RecordingNoteHover>(&hovers);
        });
        auto document = std::make_shared<OverviewDocumentWindow>(size);
        window = document;
        container = BaseView::create(Rect(Point(), size));
        window->setContentView(container);
        document->container = container;
        window->makeKeyAndOrderFront();
        view = GraphScrollView::create();
        container->addSubview(view);
        view->setFrame(Rect(Point(), size));
        view->setDelegate(delegate);
    }
    ~ScrollViewRig()
    {
        window->close();
        NoteHoverUtility::setFactory({});
    }
    ScrollViewRig(const ScrollViewRig&) = delete;
    ScrollViewRig& operator=(const ScrollViewRig&) = delete;

    // The shown view has every visible tile, and a next view, if any, was ready and judged
    // (a ready next view that stays is not wanted yet).
    bool settled() const
    {
        const auto& shown = view->graphView();
        const auto& next = view->nextGraphView();
        return shown && shown->ready() && covered(*shown) && !view->ideaChangePending() &&
               !view->searching() && (!next || next->ready());
    }
    // Every tile the view's visible rectangle needs is shown (readiness is only recomputed
    // after tiles were asked for, so it can be stale right after a move).
    static bool covered(const ScaledGraphView& tiled)
    {
        const GridPortion required = tiled.requiredPortion();
        std::size_t present = 0;
        for (const auto& layer : tiled.visibleLayers())
            present += required.contains(layer->coord()) ? 1 : 0;
        const std::size_t wanted = required.isEmpty()
                                       ? 0
                                       : std::size_t(required.lastRow - required.firstRow + 1) *
                                             std::size_t(required.lastColumn - required.firstColumn + 1);
        return present == wanted;
    }
    bool settle()
    {
        return pumpUntil([this] { return settled(); }, &time);
    }
    void show(const IdeaPtr& root, const QString& searchText = QString())
    {
        view->setCurrentIdea(root, searchText);
        settle();
    }
    // Pans so that a content point is in the middle.
    void centreOn(Point content)
    {
        const Point now = view->dataCenter();
        const double z = double(view->zoomScale());
        view->addSomePan(Point((now.x - content.x) * z, (now.y - content.y) * z));
    }
    // A point of the view in window base coordinates.
    Point windowPoint(Point viewPoint) const { return view->convertPointToView(viewPoint, nullptr); }
    Point windowPointOfContent(Point content) const
    {
        const Rect b = view->bounds();
        const double z = double(view->zoomScale());
        const Point p(b.size.width / 2 + (content.x - view->dataCenter().x) * z,
                      b.size.height / 2 + (content.y - view->dataCenter().y) * z);
        return windowPoint(p);
    }
    void advance(double seconds, int steps = 30)
    {
        for (int i = 0; i < steps; ++i) {
            time.advance(seconds / steps);
            View::runUpdateCycle();
        }
    }

    ScopedVirtualTime time{1000.0};
    std::shared_ptr<Window> window;
    std::shared_ptr<BaseView> container;
    std::shared_ptr<GraphScrollView> view;
    std::shared_ptr<RecordingOverviewDelegate> delegate = std::make_shared<RecordingOverviewDelegate>();
    std::vector<HoverRecord> hovers;
};

} // namespace corvex::test
