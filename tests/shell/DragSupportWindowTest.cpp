// Window-level drag and drop as a state machine: two and three windows fed the calls the
// Qt adapter makes, with screens that record what the windows tell them; the planet copy's
// scale near a target and its return flight; the names of ideas dragged out as files.

#include "shell/DragSupportWindow.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Idea.h"
#include "platform/ui/Layer.h"
#include "shell/DragOverlayView.h"
#include "shell/PromisedFileName.h"
#include "tests/shell/DragTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

// Windows of 600 x 500 with recording screens, each with a docked idea of its own (no
// document, so nothing needs storage), on virtual time.
class DragWindows
{
public:
    explicit DragWindows(int count)
    {
        for (int i = 0; i < count; ++i) {
            auto window = DragSupportWindow::create(Size(600, 500));
            auto screen = std::make_shared<RecordingDragScreen>();
            window->switchToViewController(screen, false, {});
            const IdeaPtr idea = Idea::initWithText(QStringLiteral("idea %1").arg(i));
            window->setDockedIdea(idea, QString());
            windows.push_back(window);
            screens.push_back(screen);
            ideas.push_back(idea);
        }
        time.runDue();
    }

    // Starts a drag of window i's docked idea from its dock (return target kind 2); the
    // script runs while the drag runs.
    void startDrag(int i, ScriptedDragRunner::Script script)
    {
        drags.runner->script = std::move(script);
        auto view = SimpleIdeaView::create(3);
        view->updateWithIdea(ideas[i].get(), QString());
        DragTarget dock;
        dock.object = DragTarget::Dock;
        dock.area = Rect(500, 20, 80, 80);
        dock.gravityRadius = 80;
        LogCapture log; // a docked idea without a document is logged as unexpected
        windows[i]->startDragForEvent(Event::mouseDragged(Point(540, 60)), *windows[i]->containerView(), view,
                                      dock);
    }

    ScopedVirtualTime time;
    ScopedDragRunner drags;
    std::vector<std::shared_ptr<DragSupportWindow>> windows;
    std::vector<std::shared_ptr<RecordingDragScreen>> screens;
    std::vector<IdeaPtr> ideas;
};

// A screen that records its appearance hooks as "<name> will appear", ...
class AppearanceScreen final : public BaseViewController
{
public:
    AppearanceScreen(QString name, QStringList& calls) : mName(std::move(name)), mCalls(calls) {}
    void viewWillAppear() override { mCalls.append(mName + QStringLiteral(" will appear")); }
    void viewDidAppear() override
    {
        const bool inWindow = viewIfLoaded() && viewIfLoaded()->window();
        mCalls.append(
            mName + (inWindow ? QStringLiteral(" did appear in the window") : QStringLiteral(" did appear")));
    }
    void viewWillDisappear() override { mCalls.append(mName + QStringLiteral(" will disappear")); }
    void viewDidDisappear() override { mCalls.append(mName + QStringLiteral(" did disappear")); }

private:
    QString mName;
    QStringList& mCalls;
};

DragTarget someTarget()
{
    DragTarget target;
    target.object = 1;
    target.area = Rect(100, 100, 100, 60);
    return target;
}

} // namespace

TEST(DragSupportWindow, ADropInsideTheStartingWindowIsAcceptedThereAndEndsWithoutAResult)
{
    DragWindows w(1);
    RecordingDragScreen& screen = *w.screens[0];
    screen.target = someTarget();
    screen.answerAtOnce = DragResult::Moved;
    w.startDrag(0, [&](QMimeData&) {
        DragSupportWindow& window = *w.windows[0];
        EXPECT_NE(window.draggingEntered(appDrag(Point(540, 60))), DragOperation::None);
        EXPECT_TRUE(window.dragTargetIdeaView()) << "the window draws its own planet";
        window.draggingUpdated(appDrag(Point(150, 130)));
        EXPECT_TRUE(window.performDragOperation(appDrag(Point(150, 130))));
        window.draggingEnded(appDrag(Point(150, 130)));
        return true;
    });
    // The docked idea reaches the screen on a later turn, as a stored one does.
    EXPECT_EQ(screen.calls, (QStringList{"started 0", "update", "update", "update"}));
    w.time.runDue();
    EXPECT_EQ(screen.calls, (QStringList{"started 0", "update", "update", "update", "accept idea 0"}));
    const DragSupportWindow& window = *w.windows[0];
    EXPECT_EQ(window.dragSourceSessionNumber(), DragSupportWindow::NoSession);
    EXPECT_EQ(window.dragTargetSessionNumber(), DragSupportWindow::NoSession);
    EXPECT_FALSE(window.delayDragEnding());
    EXPECT_FALSE(window.dragTargetIdeaView()) << "a carried-out drop leaves no planet copy";
}

TEST(DragSupportWindow, ADropInAnotherWindowEndsTheStartingSideOnlyWithTheOtherScreensAnswer)
{
    // A -> C (passing over) -> B, where B's screen answers later.
    DragWindows w(3);
    RecordingDragScreen& a = *w.screens[0];
    RecordingDragScreen& b = *w.screens[1];
    RecordingDragScreen& c = *w.screens[2];
    b.target = someTarget();
    c.target = someTarget();
    w.startDrag(0, [&](QMimeData&) {
        w.windows[0]->draggingEntered(appDrag(Point(540, 60)));
        w.windows[0]->draggingExited(appDrag(Point(-5, 60)));
        w.windows[2]->draggingEntered(appDrag(Point(10, 10)));
        w.windows[2]->draggingExited(appDrag(Point(-5, 10)));
        w.windows[1]->draggingEntered(appDrag(Point(20, 20)));
        w.windows[1]->draggingUpdated(appDrag(Point(150, 130)));
        EXPECT_TRUE(w.windows[1]->performDragOperation(appDrag(Point(150, 130))));
        w.windows[1]->draggingEnded(appDrag(Point(150, 130)));
        return true;
    });
    w.time.runDue(); // the docked idea reaches B's screen on a later turn
    EXPECT_EQ(a.calls, (QStringList{"started 0", "update", "exited"}))
        << "A hears that the drag left it and nothing more before B's screen answers";
    EXPECT_EQ(c.calls, (QStringList{"started 1", "update", "ended 0"}));
    EXPECT_EQ(b.calls, (QStringList{"started 1", "update", "update", "update", "accept idea 0"}));
    EXPECT_TRUE(w.windows[0]->delayDragEnding());
    EXPECT_NE(w.windows[0]->dragSourceSessionNumber(), DragSupportWindow::NoSession);

    // While B's outcome is pending, B answers every new drag with no operation.
    EXPECT_EQ(w.windows[1]->draggingEntered(fileDrag(DragSessionRegistry::nextSequenceNumber(), Point(5, 5),
                                                     QStringList{QStringLiteral("/tmp/x.png")})),
              DragOperation::None);

    // A drag B's own screen starts meanwhile is refused without B's screen hearing an end,
    // which it would take for the pending drop's.
    w.startDrag(1, nullptr);
    EXPECT_EQ(b.calls.size(), 5);
    EXPECT_EQ(w.drags.runner->runs, 1);

    b.answer(DragResult::Copied);
    w.time.runDue(); // B's answer is heard on a later turn
    EXPECT_EQ(a.calls, (QStringList{"started 0", "update", "exited", "ended 2"}));
    EXPECT_EQ(b.calls.size(), 5) << "the screen that answered hears nothing more";
    for (const auto& window : w.windows) {
        EXPECT_EQ(window->dragSourceSessionNumber(), DragSupportWindow::NoSession);
        EXPECT_EQ(window->dragTargetSessionNumber(), DragSupportWindow::NoSession);
        EXPECT_FALSE(window->delayDragEnding());
    }
}

TEST(DragSupportWindow, AWindowWhoseScreenNamesNoTargetRefusesTheDropAndBothWindowsEndWithNothingTaken)
{
    DragWindows w(2);
    bool answered = true;
    w.startDrag(0, [&](QMimeData&) {
        w.windows[0]->draggingEntered(appDrag(Point(540, 60)));
        w.windows[0]->draggingExited(appDrag(Point(-5, 60)));
        w.windows[1]->draggingEntered(appDrag(Point(20, 20)));
        answered = w.windows[1]->performDragOperation(appDrag(Point(150, 130)));
        w.windows[1]->draggingEnded(appDrag(Point(150, 130)));
        return answered;
    });
    EXPECT_FALSE(answered);
    EXPECT_FALSE(w.windows[1]->dragTargetIdeaView()) << "B's planet copy disappears at once";
    EXPECT_EQ(w.screens[1]->calls.back(), QStringLiteral("ended 0"));
    EXPECT_EQ(w.screens[0]->calls.back(), QStringLiteral("ended 0"));
    EXPECT_TRUE(w.windows[0]->currentDockedIdea()) << "the dock keeps the idea";
}

TEST(DragSupportWindow, ASecondDragWhileOneRunsIsRefusedAtOnce)
{
    DragWindows w(1);
    RecordingDragScreen& screen = *w.screens[0];
    w.startDrag(0, [&](QMimeData&) {
        auto view = SimpleIdeaView::create(3);
        view->updateWithIdea(w.ideas[0].get(), QStringLiteral("doc"));
        w.windows[0]->startDragForEvent(Event::mouseDragged(Point(10, 10)), *w.windows[0]->containerView(),
                                        view, DragTarget());
        EXPECT_EQ(screen.calls, QStringList{QStringLiteral("ended 0")});
        return false;
    });
    EXPECT_EQ(w.drags.runner->runs, 1);
    EXPECT_EQ(screen.calls, (QStringList{"ended 0", "ended 0"}));
}

TEST(DragSupportWindow, TheShownScreenAppearsInTheWindowAndThePreviousOneDisappears)
{
    DragWindows w(1);
    DragSupportWindow& window = *w.windows[0];
    QStringList calls;
    auto first = std::make_shared<AppearanceScreen>(QStringLiteral("first"), calls);
    auto second = std::make_shared<AppearanceScreen>(QStringLiteral("second"), calls);
    window.switchToViewController(first, false, {});
    bool completed = false;
    CompletionRecorder recorder;
    window.switchToViewController(second, true, recorder.expect<>(QStringLiteral("switched"), [&] {
        completed = true;
        calls.append(QStringLiteral("completion"));
    }));
    EXPECT_FALSE(completed) << "answered before the fade";
    w.time.advance(MyWindow::FadeDuration + 0.05);
    EXPECT_TRUE(completed);
    EXPECT_EQ(calls, (QStringList{"first will appear", "first did appear in the window",
                                  "first will disappear", "second will appear",
                                  "second did appear in the window", "first did disappear", "completion"}));
    calls.clear();
    window.switchToViewController(second, false, {});
    EXPECT_TRUE(calls.isEmpty()) << "the screen shown already appears only once";
}

TEST(DragSupportWindow, ARefusingScreenOrAnotherSessionGetsNoOperation)
{
    DragWindows w(1);
    DragSupportWindow& window = *w.windows[0];
    w.screens[0]->takesPart = false;
    const qint64 first = DragSessionRegistry::nextSequenceNumber();
    const auto png = QStringList{QStringLiteral("/tmp/a.png")};
    EXPECT_EQ(window.draggingEntered(fileDrag(first, Point(5, 5), png)), DragOperation::None);
    EXPECT_FALSE(window.dragTargetOverlay()) << "the overlay goes again with the refusal";
    EXPECT_EQ(window.draggingUpdated(fileDrag(first, Point(6, 6), png)), DragOperation::None);

    w.screens[0]->takesPart = true;
    const qint64 second = DragSessionRegistry::nextSequenceNumber();
    EXPECT_EQ(window.draggingEntered(fileDrag(second, Point(5, 5), png)), DragOperation::Copy);
    EXPECT_EQ(window.draggingEntered(fileDrag(DragSessionRegistry::nextSequenceNumber(), Point(5, 5), png)),
              DragOperation::None);
    EXPECT_EQ(window.draggingUpdated(fileDrag(first, Point(6, 6), png)), DragOperation::None);
    EXPECT_EQ(window.draggingUpdated(fileDrag(second, Point(6, 6), png)), DragOperation::Copy);
    window.draggingExited(fileDrag(second, Point(-1, 6), png));
    EXPECT_EQ(window.dragTargetSessionNumber(), DragSupportWindow::NoSession);
}

TEST(DragSupportWindow, FilesFromOutsideAreJudgedOnceAndTheSourceHearsWhatADropWouldDo)
{
    DragWindows w(1);
    DragSupportWindow& window = *w.windows[0];
    RecordingDragScreen& screen = *w.screens[0];
    struct Row
    {
        std::optional<QStringList> files;
        bool accept;
    };
    const std::vector<Row> rows = {
        {QStringList{QStringLiteral("/p/photo.PNG")}, true},
        {QStringList{QStringLiteral("/p/plan.opml")}, true},
        {QStringList{QStringLiteral("/p/a.jpeg")}, true},
        {QStringList{QStringLiteral("/p/a.png"), QStringLiteral("/p/b.png")}, false},
        {QStringList{QStringLiteral("/p/notes.txt")}, false},
        {std::nullopt, false},
    };
    for (const Row& row : rows) {
        const qint64 number = DragSessionRegistry::nextSequenceNumber();
        // A refused drag hears "none" from the start and while it hovers, never "every".
        const DragOperation answer = row.accept ? DragOperation::Copy : DragOperation::None;
        ASSERT_EQ(window.draggingEntered(fileDrag(number, Point(5, 5), row.files)), answer);
        EXPECT_EQ(window.draggingUpdated(fileDrag(number, Point(6, 6), row.files)), answer);
        if (row.accept) {
            EXPECT_EQ(window.draggingUpdated(fileDrag(number, Point(6, 6), row.files, DragOperation::Move)),
                      DragOperation::None)
                << "a source that allows only a move is never told to move: it would delete the file";
            EXPECT_EQ(window.draggingUpdated(fileDrag(number, Point(6, 6), row.files, DragOperation::Link)),
                      DragOperation::None);
        }
        ASSERT_TRUE(window.dragTargetOverlay());
        EXPECT_EQ(window.dragTargetOverlay()->accepts(), row.accept)
            << (row.files ? row.files->join(QLatin1Char(',')) : QStringLiteral("-")).toStdString();
        EXPECT_EQ(screen.lastInfoSource, DragInfo::Source::OutsideApplication);
        if (!row.accept)
            EXPECT_FALSE(window.performDragOperation(fileDrag(number, Point(5, 5), row.files)));
        else // a drag that may only link: nothing would be done, so nothing is claimed
            EXPECT_FALSE(
                window.performDragOperation(fileDrag(number, Point(5, 5), row.files, DragOperation::Link)));
        EXPECT_FALSE(window.dragTargetOverlay());
        EXPECT_EQ(screen.calls.back(), QStringLiteral("ended 0"));
        if (row.accept) {
            // Dropped by a source that may only move it: refused before anything is read.
            const qint64 moving = DragSessionRegistry::nextSequenceNumber();
            window.draggingEntered(fileDrag(moving, Point(5, 5), row.files, DragOperation::Move));
            EXPECT_FALSE(
                window.performDragOperation(fileDrag(moving, Point(5, 5), row.files, DragOperation::Move)));
            EXPECT_FALSE(window.delayDragEnding()) << "no import started";
            EXPECT_EQ(screen.calls.back(), QStringLiteral("ended 0"));
        }
    }
}

TEST(DragSupportWindow, ThePlanetCopyShrinksTowardsATargetWithinItsGravityRadius)
{
    const Size copy(140, 140);
    DragTarget target;
    target.object = 1;
    target.area = Rect(0, 0, 100, 60);
    target.gravityRadius = 80;
    const Point centre(50, 30);
    EXPECT_NEAR(DragSupportWindow::planetScaleFor(copy, target, centre), 100.0 / 140.0, 1e-6);
    EXPECT_NEAR(DragSupportWindow::planetScaleFor(copy, target, Point(90, 30)),
                100.0 / 140.0 + (0.75 - 100.0 / 140.0) * 0.5, 1e-6);
    EXPECT_DOUBLE_EQ(DragSupportWindow::planetScaleFor(copy, target, Point(130, 30)), 0.75);
    EXPECT_DOUBLE_EQ(DragSupportWindow::planetScaleFor(copy, target, Point(300, 30)), 0.75);
    DragTarget big = target;
    big.area = Rect(0, 0, 400, 300);
    EXPECT_DOUBLE_EQ(DragSupportWindow::planetScaleFor(copy, big, Point(200, 150)), 0.75);
    DragTarget noGravity = target;
    noGravity.gravityRadius = 0;
    EXPECT_DOUBLE_EQ(DragSupportWindow::planetScaleFor(copy, noGravity, centre), 0.75);
    DragTarget none = target;
    none.object = 0;
    EXPECT_DOUBLE_EQ(DragSupportWindow::planetScaleFor(copy, none, centre), 0.75);
}

TEST(DragSupportWindow, ADeclinedDropInsideTheWindowFliesThePlanetBackToTheDockIn200Ms)
{
    DragWindows w(1);
    DragSupportWindow& window = *w.windows[0];
    std::shared_ptr<IdeaView> flying;
    w.startDrag(0, [&](QMimeData&) {
        window.draggingEntered(appDrag(Point(300, 300)));
        flying = window.dragTargetIdeaView();
        EXPECT_FALSE(window.performDragOperation(appDrag(Point(300, 300))));
        return false;
    });
    ASSERT_TRUE(flying);
    EXPECT_FALSE(window.dragTargetIdeaView()) << "the flight belongs to its animation alone";
    EXPECT_TRUE(flying->superview()) << "still flying";
    w.time.advance(0.1);
    EXPECT_TRUE(flying->superview());
    w.time.advance(0.2);
    EXPECT_FALSE(flying->superview()) << "gone once the 0.2 s flight is over";
    EXPECT_EQ(w.screens[0]->calls.back(), QStringLiteral("ended 0"));
    EXPECT_TRUE(window.currentDockedIdea());
}

TEST(PromisedFileName, FollowsTheTitleCutOnGraphemesAndNumbersClashes)
{
    const auto none = [](const QString&) { return false; };
    EXPECT_EQ(PromisedFileName::fileName(QStringLiteral("Shopping list"), none),
              QStringLiteral("Shoppingli.corvex"));
    EXPECT_EQ(PromisedFileName::fileName(QStringLiteral("Planetarie\u0301s"), none),
              QStringLiteral("Planetari.corvex"));
    EXPECT_EQ(PromisedFileName::fileName(QStringLiteral("...."), none), QStringLiteral("document.corvex"));
    EXPECT_EQ(PromisedFileName::fileName(QString(), none), QStringLiteral("document.corvex"));
    EXPECT_EQ(PromisedFileName::baseName(QStringLiteral("ab\ncd\x01/:ef")), QStringLiteral("abcdef"));
    EXPECT_EQ(PromisedFileName::baseName(QStringLiteral("123456789\U0001D11E")), QStringLiteral("123456789"));

    const QString folder = testDir() + QStringLiteral("/promised");
    ASSERT_TRUE(QDir().mkpath(folder));
    writeFile(folder + QStringLiteral("/document.corvex"), QByteArray("x"));
    writeFile(folder + QStringLiteral("/document-1.corvex"), QByteArray("x"));
    EXPECT_EQ(PromisedFileName::fileNameInFolder(QString(), folder), QStringLiteral("document-2.corvex"));
    writeFile(folder + QStringLiteral("/Shoppingli.corvex"), QByteArray("x"));
    EXPECT_EQ(PromisedFileName::fileNameInFolder(QStringLiteral("Shopping list"), folder),
              QStringLiteral("Shoppingli-1.corvex"));
}

} // namespace corvex::test
