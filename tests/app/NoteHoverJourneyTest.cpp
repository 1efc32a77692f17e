// Resting the pointer on a note mark, in the mind map and in the overview: the cursor shapes
// on the way and the note's popover after its delay, gone again once the pointer left, and
// gone as soon as the user works elsewhere (on the bare X server and under a window manager).

#include "editor/NoteDisplayViewController.h"
#include "editor/PopoverNoteHoverUtility.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemViewController.h"
#include "overview/GraphScrollView.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/Popover.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"

#include <QCursor>
#include <QWidget>
#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>

namespace corvex::test {

namespace {

class NoteHoverJourney : public MindMapJourney
{
protected:
    // The cursor the window shows now.
    static Qt::CursorShape cursorShown(Window& window) { return window.hostWidget()->cursor().shape(); }

    // The note a hover popover shows on screen now; nothing when none is shown.
    static std::optional<QString> noteShown(NoteHoverUtility* hover)
    {
        auto* popovers = dynamic_cast<PopoverNoteHoverUtility*>(hover);
        const std::shared_ptr<Popover> popover = popovers ? popovers->notePopover() : nullptr;
        if (!popover || !popover->isShown() || !popover->window() ||
            !popover->window()->hostWidget()->isVisible())
            return std::nullopt;
        auto display = std::dynamic_pointer_cast<NoteDisplayViewController>(popover->contentViewController());
        return display ? std::optional<QString>(display->noteText()) : std::nullopt;
    }

    // Rests on the point: the popover shows after the delay, not at once; answers its note
    // and how long it took.
    struct Rest
    {
        std::optional<QString> note;
        double seconds = 0;
        bool shownAtOnce = false;
    };
    Rest restOn(Window& window, Point point, NoteHoverUtility* hover)
    {
        Rest rest;
        const double start = MediaClock::now();
        UserInput::moveMouse(window, point);
        rest.shownAtOnce = noteShown(hover).has_value();
        waitFor([&] { return noteShown(hover).has_value(); }, 3.0);
        rest.seconds = MediaClock::now() - start;
        rest.note = noteShown(hover);
        return rest;
    }

    // Moves off to the point, then a little further a moment later, as a hand does.
    bool leaveTo(Window& window, Point point, NoteHoverUtility* hover)
    {
        UserInput::moveMouse(window, point);
        const double left = MediaClock::now();
        waitFor([left] { return MediaClock::now() - left > 0.2; }, 1.0);
        UserInput::moveMouse(window, Point(point.x + 2, point.y));
        return waitFor([hover] { return !noteShown(hover).has_value(); }, 3.0);
    }
};

// Ways of working elsewhere while a note shows.
struct Elsewhere
{
    const char* what;
    // Does it; false when it could not.
    std::function<bool(MyWindow& map, MyWindow& other, SolarSystemViewController& screen)> act;
    // Undoes it, so that the next way starts from the mind map again.
    std::function<bool(MyWindow& map, SolarSystemViewController& screen)> back;
};

bool exportScreenShown(SolarSystemViewController& screen)
{
    return !screen.presentedViewControllers().empty();
}

const Elsewhere kElsewhere[] = {
    {"another window of Corvex became the active one",
     [](MyWindow&, MyWindow& other, SolarSystemViewController&) { return AppJourney::activate(other); },
     [](MyWindow& map, SolarSystemViewController&) { return AppJourney::activate(map); }},
    {"the pointer left the window",
     [](MyWindow& map, MyWindow&, SolarSystemViewController&) {
         const QRect area = map.hostWidget()->geometry();
         QCursor::setPos(area.right() + 40, area.center().y());
         return true;
     },
     [](MyWindow&, SolarSystemViewController&) { return true; }},
    {"File > Export... showed its screen over the map",
     [](MyWindow& map, MyWindow&, SolarSystemViewController& screen) {
         return UserInput::chooseMenuBarItem(map, QStringLiteral("File"), QStringLiteral("Export..."))
                    .chose &&
                AppJourney::waitFor([&] { return exportScreenShown(screen); });
     },
     [](MyWindow& map, SolarSystemViewController& screen) {
         UserInput::pressKey(map, Qt::Key_Escape);
         return AppJourney::waitFor([&] { return !exportScreenShown(screen) && !screen.screenOccupied(); });
     }},
};

// Where the note marks are: the mind map's planets or the overview's nodes.
enum class Surface
{
    MindMap,
    Overview,
};

// The surface a user rests on: how it is shown, its note hover now, and where its plain and
// noted ideas are seen.
struct Shown
{
    NoteHoverUtility* hover = nullptr;
    std::optional<Point> plain;
    std::optional<Point> mark;
};

Shown shownOn(Surface surface, SolarSystemViewController& screen)
{
    Shown shown;
    if (surface == Surface::MindMap) {
        shown.hover = screen.solarSystemView()->noteHoverUtility();
        shown.plain = WhereOnScreen::planet(screen, QStringLiteral("Pack"));
        shown.mark = WhereOnScreen::planetNoteMark(screen, QStringLiteral("Tickets"));
    } else if (auto* graph = dynamic_cast<GraphScrollView*>(screen.graphView().get())) {
        shown.hover = graph->noteHoverUtility();
        shown.plain = WhereOnScreen::overviewNode(screen, QStringLiteral("Pack"));
        shown.mark = WhereOnScreen::overviewNoteMark(screen, QStringLiteral("Tickets"));
    }
    return shown;
}

inline void PrintTo(Surface surface, std::ostream* out)
{
    *out << (surface == Surface::MindMap ? "mind map" : "overview");
}

using Place = std::tuple<Desktop, Surface>;

class NotePopoverJourney : public NoteHoverJourney, public ::testing::WithParamInterface<Place>
{};

std::string placeName(const ::testing::TestParamInfo<Place>& info)
{
    return std::string(desktopName(std::get<0>(info.param))) +
           (std::get<1>(info.param) == Surface::MindMap ? "MindMap" : "Overview");
}

} // namespace

TEST_P(NotePopoverJourney, ShowsBesideTheRestingPointAndClosesWhenTheUserWorksElsewhere)
{
    const auto [desktop, surface] = GetParam();
    ASSERT_TRUE(runOn(desktop)) << "no window manager";
    auto screen = launchWithDocument(
        text(QStringLiteral("Trip"), {noted(QStringLiteral("Tickets"), QStringLiteral("Gate 4, seat 12")),
                                      text(QStringLiteral("Pack"))}));
    ASSERT_NE(screen, nullptr);
    MyWindow& map = windowOf(*screen);
    if (surface == Surface::Overview) {
        ASSERT_TRUE(showOverview(*screen)) << "no overview";
    }
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(map, QStringLiteral("File"), QStringLiteral("New iCloud Window")).ran());
    ASSERT_TRUE(waitFor([] { return windows().size() == 2; }));
    MyWindow& other = *windows().back();
    const QString place = QLatin1String(desktopName(desktop)) +
                          (surface == Surface::MindMap ? QString() : QStringLiteral("-overview"));
    for (const Elsewhere& elsewhere : kElsewhere) {
        SCOPED_TRACE(elsewhere.what);
        ASSERT_TRUE(activate(map));
        // The surface's view of now (a screen shown over it may have had it made anew).
        const Shown shown = shownOn(surface, *screen);
        NoteHoverUtility* hover = shown.hover;
        auto* popovers = dynamic_cast<PopoverNoteHoverUtility*>(hover);
        ASSERT_NE(popovers, nullptr);
        // On another idea first, so that the rest starts afresh, once the surface answers the
        // pointer again (a screen that was over it fades out first).
        const Point pack = seen(shown.plain);
        ASSERT_TRUE(waitFor([&] {
            UserInput::moveMouse(map, pack);
            return cursorShown(map) == Qt::PointingHandCursor;
        })) << "the surface does not answer the pointer";
        ASSERT_TRUE(leaveTo(map, pack, hover));
        const Point mark = seen(shown.mark);
        const Rest rest = restOn(map, mark, hover);
        ASSERT_TRUE(rest.note.has_value()) << "no note popover after resting on the note mark";
        // Beside the 20 x 20 square around the resting point, above it where there is room,
        // never over it.
        // The pointer rests on a whole pixel.
        const Point onScreen = map.convertPointToScreen(Point(std::round(mark.x), std::round(mark.y)));
        const Rect square(onScreen.x - 10, onScreen.y - 10, 20, 20);
        const Rect popover = popovers->notePopover()->frame();
        EXPECT_TRUE(popover.intersection(square).isEmpty())
            << "the popover covers the resting point: popover " << popover.origin.x << ", "
            << popover.origin.y << " " << popover.size.width << " x " << popover.size.height << ", point "
            << onScreen.x << ", " << onScreen.y;
        // On its top edge, at the next whole point where the edge falls between two.
        EXPECT_TRUE(popover.minY() >= square.maxY() && popover.minY() < square.maxY() + 1)
            << "the popover is not on the square's top edge: " << popover.minY() << ", edge "
            << square.maxY();
        screenshot(QStringLiteral("note-popover-") + place);

        ASSERT_TRUE(elsewhere.act(map, other, *screen));
        EXPECT_TRUE(waitFor([&] { return !noteShown(hover).has_value(); }, 3.0))
            << "the note popover stayed after " << elsewhere.what;
        ASSERT_TRUE(elsewhere.back(map, *screen));
    }
}

INSTANTIATE_TEST_SUITE_P(Places, NotePopoverJourney,
                         ::testing::Combine(kEachDesktop,
                                            ::testing::Values(Surface::MindMap, Surface::Overview)),
                         placeName);

TEST_F(NoteHoverJourney, PlanetNoteMarkShowsItsNoteAfterARestAndTheCursorTellsWhatIsUnderIt)
{
    auto screen = launchWithDocument(
        text(QStringLiteral("Trip"), {noted(QStringLiteral("Tickets"), QStringLiteral("Gate 4, seat 12")),
                                      text(QStringLiteral("Pack"), {text(QStringLiteral("Socks"))})}));
    ASSERT_NE(screen, nullptr);
    MyWindow& window = windowOf(*screen);
    NoteHoverUtility* hover = screen->solarSystemView()->noteHoverUtility();
    ASSERT_NE(hover, nullptr) << "the mind map has no note hover";

    UserInput::moveMouse(window, seen(WhereOnScreen::planet(*screen, QStringLiteral("Pack"))));
    EXPECT_EQ(cursorShown(window), Qt::PointingHandCursor) << "over a planet";
    UserInput::moveMouse(window, seen(WhereOnScreen::emptySpace(*screen)));
    EXPECT_TRUE(cursorShown(window) == Qt::ArrowCursor || cursorShown(window) == Qt::OpenHandCursor)
        << "over empty space: " << cursorShown(window);

    const Rest rest =
        restOn(window, seen(WhereOnScreen::planetNoteMark(*screen, QStringLiteral("Tickets"))), hover);
    EXPECT_EQ(cursorShown(window), Qt::BitmapCursor) << "over a note mark: the contextual-menu cursor";
    EXPECT_FALSE(rest.shownAtOnce);
    ASSERT_TRUE(rest.note.has_value()) << "no note popover after resting on the note mark";
    EXPECT_EQ(*rest.note, QStringLiteral("Gate 4, seat 12"));
    EXPECT_GE(rest.seconds, 0.5);
    screenshot(QStringLiteral("note-hover-planet"));

    EXPECT_TRUE(leaveTo(window, seen(WhereOnScreen::emptySpace(*screen)), hover))
        << "the popover stayed after leaving";
}

TEST_F(NoteHoverJourney, OverviewNodeNoteShowsAfterARest)
{
    auto screen = launchWithDocument(
        text(QStringLiteral("Farm"),
             {text(QStringLiteral("Barn"), {noted(QStringLiteral("Hay"), QStringLiteral("Dry by Friday"))}),
              text(QStringLiteral("Field"))}));
    ASSERT_NE(screen, nullptr);
    MyWindow& window = windowOf(*screen);
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("View"), QStringLiteral("Toggle Mind Map"))
            .ran());
    ASSERT_TRUE(waitFor([&] {
        return WhereOnScreen::overviewNoteMark(*screen, QStringLiteral("Hay")).has_value() &&
               !screen->screenOccupied();
    })) << "no overview with the noted node";
    auto* graph = dynamic_cast<GraphScrollView*>(screen->graphView().get());
    ASSERT_NE(graph, nullptr);

    UserInput::moveMouse(window, seen(WhereOnScreen::overviewNode(*screen, QStringLiteral("Field"))));
    EXPECT_EQ(cursorShown(window), Qt::PointingHandCursor) << "over a node";
    const Rest rest = restOn(window, seen(WhereOnScreen::overviewNoteMark(*screen, QStringLiteral("Hay"))),
                             graph->noteHoverUtility());
    EXPECT_EQ(cursorShown(window), Qt::BitmapCursor) << "over a note mark: the contextual-menu cursor";
    EXPECT_FALSE(rest.shownAtOnce);
    ASSERT_TRUE(rest.note.has_value()) << "no note popover after resting on the node's note mark";
    EXPECT_EQ(*rest.note, QStringLiteral("Dry by Friday"));
    screenshot(QStringLiteral("note-hover-overview"));
}

} // namespace corvex::test
