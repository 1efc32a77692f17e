// The note hover on virtual time: cursor reports every 20 ms, the popover's timing, and the
// identity of the hovered idea.

#include "editor/NoteDisplayScrollView.h"
#include "editor/NoteDisplayViewController.h"
#include "editor/PopoverNoteHoverUtility.h"
#include "mindmap/NoteHoverUtilityDelegate.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Window.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/BaseView.h"
#include "toolkit/ReadOnlyTextView.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

class HoverHost : public NoteHoverUtilityDelegate
{
public:
    std::shared_ptr<View> hostViewForNoteHoverDisplay() override { return view; }
    bool isNoteHoverDisplayAllowed() const override { return allowed; }
    std::shared_ptr<View> view;
    bool allowed = true;
};

struct HoverRig
{
    HoverRig()
    {
        window = Window::create(Size(600, 400));
        host->view = BaseView::create(Rect(0, 0, 600, 400));
        window->setContentView(host->view);
        window->orderFront();
        utility = std::make_unique<PopoverNoteHoverUtility>(host);
    }
    ~HoverRig() { utility.reset(); }

    // Reports every 20 ms for `seconds`.
    void rest(const std::optional<QString>& note, const QString& idea, double seconds,
              Point at = Point(50, 60))
    {
        for (double t = 0; t < seconds - 1e-9; t += 0.02) {
            utility->observeCursorHoveringOverNoteOfIdea(note, idea, at);
            time.advance(0.02);
        }
    }
    QString shownNote() const
    {
        if (!utility->notePopover())
            return QString();
        auto content = std::dynamic_pointer_cast<NoteDisplayViewController>(
            utility->notePopover()->contentViewController());
        return content ? content->noteText() : QString();
    }

    ScopedVirtualTime time;
    std::shared_ptr<Window> window;
    std::shared_ptr<HoverHost> host = std::make_shared<HoverHost>();
    std::unique_ptr<PopoverNoteHoverUtility> utility;
};

TEST(NoteHover, AnotherIdeaWithTheSameTextRestartsTheWait)
{
    HoverRig r;
    r.rest(QStringLiteral("same note"), QStringLiteral("idea-1"), 0.3);
    r.rest(QStringLiteral("same note"), QStringLiteral("idea-2"), 0.3);
    EXPECT_FALSE(r.utility->notePopover()) << "0.3 s on each of two ideas is no rest";
    r.rest(QStringLiteral("same note"), QStringLiteral("idea-2"), 0.6);
    ASSERT_TRUE(r.utility->notePopover());
    EXPECT_TRUE(r.utility->notePopover()->isShown());
    EXPECT_EQ(r.shownNote(), QStringLiteral("same note"));
    EXPECT_EQ(r.utility->notePopover()->contentSize(),
              Size(NoteDisplayViewController::Width, NoteDisplayViewController::Height));
    EXPECT_FALSE(r.utility->notePopover()->takesKeyboard());
}

TEST(NoteHover, ShowsBetweenHalfASecondAndATickAfterRestingAndClosesAfterLeaving)
{
    HoverRig r;
    r.rest(QStringLiteral("n"), QStringLiteral("a"), 0.5);
    EXPECT_FALSE(r.utility->notePopover());
    r.time.advance(0.06);
    ASSERT_TRUE(r.utility->notePopover()) << "by 0.55 s";
    const std::shared_ptr<Popover> shown = r.utility->notePopover();

    // Moving to another badge keeps it; leaving every badge closes it at the first report
    // more than 0.1 s later.
    r.rest(QStringLiteral("m"), QStringLiteral("b"), 0.2);
    EXPECT_EQ(r.utility->notePopover(), shown);
    r.rest(std::nullopt, QString(), 0.1);
    EXPECT_TRUE(shown->isShown());
    r.rest(std::nullopt, QString(), 0.04);
    EXPECT_FALSE(r.utility->notePopover());
    EXPECT_FALSE(shown->isShown());

    // A quick pass shows nothing; a host that refuses shows nothing until it allows.
    r.rest(QStringLiteral("n"), QStringLiteral("a"), 0.3);
    r.rest(std::nullopt, QString(), 1.0);
    EXPECT_FALSE(r.utility->notePopover());
    r.host->allowed = false;
    r.rest(QStringLiteral("n"), QStringLiteral("a"), 1.0);
    EXPECT_FALSE(r.utility->notePopover());
    r.host->allowed = true;
    r.time.advance(0.05);
    EXPECT_TRUE(r.utility->notePopover());

    // A host that stops allowing while the note shows (the user works elsewhere) has it closed
    // at the next tick; it shows again only after a new rest.
    const std::shared_ptr<Popover> refused = r.utility->notePopover();
    r.host->allowed = false;
    r.time.advance(0.05);
    EXPECT_FALSE(r.utility->notePopover());
    EXPECT_FALSE(refused->isShown());
    r.host->allowed = true;
    r.time.advance(0.6);
    EXPECT_FALSE(r.utility->notePopover()) << "shown again without a new rest";
    r.rest(QStringLiteral("n"), QStringLiteral("a"), 0.6);
    EXPECT_TRUE(r.utility->notePopover());
    r.utility->closeIfOpen();
    EXPECT_FALSE(r.utility->notePopover());
}

TEST(NoteHover, ALongNoteScrollsInsideTheFixedSize)
{
    HoverRig r;
    QString note;
    for (int i = 0; i < 60; ++i)
        note += QStringLiteral("Line %1 of a long note\n").arg(i);
    r.rest(note, QStringLiteral("a"), 0.6);
    ASSERT_TRUE(r.utility->notePopover());
    auto content = std::dynamic_pointer_cast<NoteDisplayViewController>(
        r.utility->notePopover()->contentViewController());
    ASSERT_TRUE(content);
    EXPECT_EQ(content->view()->frame().size, Size(320, 254));
    EXPECT_GT(content->noteView()->frame().size.height, 254);
    EXPECT_TRUE(content->noteScrollView()->isVerticalScrollerShown());
    ASSERT_TRUE(r.utility->notePopover()->window());
    const QImage shot = r.utility->notePopover()->window()->renderToImage(1);
    shot.save(QDir(testOutputDir()).filePath(QStringLiteral("note-popover.png")));
    EXPECT_EQ(shot.size(), QSize(320, 254));
}

} // namespace
} // namespace corvex::test
