// The idea editor's popover as a user works in it, on the bare X server and under a window
// manager: it points from the edited planet, also once it grows for the note; it stays while
// the user types into it, and emoji pasted into the title and the note show in colour there;
// and when the user turns to another window of Corvex it goes, with what was typed taken into
// the idea. A double click on the centre opens the editor and leaves it open.

#include "editor/EditIdeaViewController.h"
#include "editor/IdeaTextEditTabView.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Idea.h"
#include "platform/ui/Popover.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/app/XServerInput.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/EditableTextView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

namespace corvex::test {

namespace {

// A camping tent, a joined sequence, a keycap and a flag.
const QString kEmoji =
    QStringLiteral(" \U0001F3D5 \U0001F469\u200D\U0001F4BB 1\uFE0F\u20E3 \U0001F1EB\U0001F1F7");

// Pixels far from any grey.
int colourfulPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 40;
        }
    return count;
}

class IdeaEditorJourney : public MindMapJourney, public ::testing::WithParamInterface<Desktop>
{
protected:
    // The child of the shown tree with this text; null when there is none.
    static IdeaPtr child(SolarSystemViewController& screen, const QString& text)
    {
        const IdeaPtr root = screen.rootIdea();
        for (const IdeaPtr& idea : root ? root->ideas() : std::vector<IdeaPtr>{}) {
            if (idea->text() == text)
                return idea;
        }
        return nullptr;
    }

    // Empty when the popover, where the user sees it, points from the planet's square: it
    // touches one of the square's edges (to the next whole point), lies along that edge, and
    // covers none of the square; else what is wrong.
    static std::string pointsFrom(const Popover& popover, const Rect& planet)
    {
        const Rect shown = popover.frame();
        const auto near = [](double a, double b) { return std::abs(a - b) < 1; };
        const bool alongX = shown.minX() < planet.maxX() && shown.maxX() > planet.minX();
        const bool alongY = shown.minY() < planet.maxY() && shown.maxY() > planet.minY();
        const bool touches =
            (alongX && (near(shown.maxY(), planet.minY()) || near(shown.minY(), planet.maxY()))) ||
            (alongY && (near(shown.maxX(), planet.minX()) || near(shown.minX(), planet.maxX())));
        std::ostringstream wrong;
        if (!touches)
            wrong << "not beside the planet; ";
        if (!shown.intersection(planet).isEmpty())
            wrong << "over the planet; ";
        if (!popover.window() || !popover.window()->hostWidget()->isVisible())
            wrong << "not on the screen; ";
        if (!wrong.str().empty()) {
            wrong << "popover " << shown.origin.x << ", " << shown.origin.y << " " << shown.size.width
                  << " x " << shown.size.height << ", planet " << planet.origin.x << ", " << planet.origin.y
                  << " " << planet.size.width << " x " << planet.size.height;
        }
        return wrong.str();
    }
};

} // namespace

TEST_P(IdeaEditorJourney, PointsFromThePlanetStaysWhileTypedIntoAndKeepsWhatWasTypedWhenTheUserTurnsAway)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    auto trip = launchWithDocument(
        text(QStringLiteral("Trip"), {text(QStringLiteral("Pack")), text(QStringLiteral("Maps"))}));
    ASSERT_NE(trip, nullptr);
    MyWindow& map = windowOf(*trip);
    // A second window of Corvex to turn to.
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(map, QStringLiteral("File"), QStringLiteral("New iCloud Window")).ran());
    ASSERT_TRUE(waitFor([] { return windows().size() == 2; }));
    MyWindow& other = *windows().back();
    ASSERT_TRUE(activate(map));

    const Rect planet = map.convertRectToScreen(*WhereOnScreen::planetArea(*trip, QStringLiteral("Pack")));
    ASSERT_TRUE(UserInput::rightClick(map, seen(WhereOnScreen::planet(*trip, QStringLiteral("Pack"))),
                                      QStringLiteral("Edit"))
                    .chose);
    ASSERT_TRUE(popoverShows()) << "Edit opened no editor";
    auto editor = std::dynamic_pointer_cast<EditIdeaViewController>(trip->ideaEditor());
    ASSERT_NE(editor, nullptr);
    const std::shared_ptr<Popover> popover = editor->popover();
    ASSERT_TRUE(waitFor([&] {
        return editor->textTabView() && editor->currentTabView() == editor->textTabView() &&
               pointsFrom(*popover, planet).empty();
    })) << "the editor does not point from the planet: "
        << pointsFrom(*popover, planet);
    Window* keys = popover->window();
    ASSERT_TRUE(waitFor([&] { return keys->isKeyWindow(); })) << "the editor did not take the keyboard";

    // The user renames the idea and writes a note: the editor stays while typed into, and
    // still points from the planet once it has grown for the note.
    UserInput::pressKey(*keys, Qt::Key_A, Qt::ControlModifier);
    UserInput::typeText(*keys, QStringLiteral("Pack list"));
    // Emoji pasted into the title show in colour there, as on the planet.
    QGuiApplication::clipboard()->setText(kEmoji);
    UserInput::pressKey(*keys, Qt::Key_V, Qt::ControlModifier);
    QLineEdit* title = editor->textTabView()->titleTextField()->field()->lineEdit();
    ASSERT_TRUE(waitFor([&] { return title->text() == QStringLiteral("Pack list") + kEmoji; }))
        << "the emoji were not pasted: " << title->text().toStdString();
    // The colour face is set on the field's clusters once the paste has been taken in.
    EXPECT_TRUE(waitFor([&] { return colourfulPixels(title->grab().toImage()) > 200; }))
        << "the emoji are not in colour";
    UserInput::pressKey(*keys, Qt::Key_Tab);
    ASSERT_TRUE(waitFor([&] {
        const auto& note = editor->textTabView()->noteView();
        return note && keys->firstResponder() == note.get();
    })) << "Tab did not open the note";
    UserInput::typeText(*keys, QStringLiteral("Passport"));
    // And into the note.
    UserInput::pressKey(*keys, Qt::Key_V, Qt::ControlModifier);
    QTextEdit* note = editor->textTabView()->noteView()->textEdit();
    ASSERT_TRUE(waitFor([&] { return note->toPlainText() == QStringLiteral("Passport") + kEmoji; }))
        << "the emoji were not pasted into the note: " << note->toPlainText().toStdString();
    EXPECT_TRUE(waitFor([&] { return colourfulPixels(note->viewport()->grab().toImage()) > 200; }))
        << "the note's emoji are not in colour";
    EXPECT_TRUE(popover->isShown() && keys->isKeyWindow()) << "the editor went while typed into";
    EXPECT_TRUE(waitFor([&] { return pointsFrom(*popover, planet).empty(); }))
        << "grown for the note, the editor no longer points from the planet: "
        << pointsFrom(*popover, planet);
    screenshot(QStringLiteral("idea-editor-") + QLatin1String(desktopName(GetParam())));

    ASSERT_TRUE(activate(other));
    EXPECT_TRUE(waitFor([&] {
        return !popover->isShown() && otherTopLevels().empty() && !trip->ideaEditor();
    })) << "the editor stayed when the user turned to another window";
    EXPECT_TRUE(other.isKeyWindow()) << "the keys did not stay with the window the user turned to";
    IdeaPtr renamed;
    EXPECT_TRUE(waitFor([&] {
        return (renamed = child(*trip, QStringLiteral("Pack list") + kEmoji)) != nullptr;
    })) << "the new name was lost";
    if (renamed) {
        EXPECT_EQ(renamed->note(), QStringLiteral("Passport") + kEmoji) << "the note was lost";
    }
}

TEST_P(IdeaEditorJourney, ADoubleClickOnTheCentreOpensTheEditorAndLeavesItOpen)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    auto trip = launchWithDocument(text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"))}));
    ASSERT_NE(trip, nullptr);
    MyWindow& map = windowOf(*trip);
    // The double click's end as the window sees it, before anything else does.
    bool doubleClicked = false;
    map.addEventMonitor([&](const Event& event) {
        doubleClicked |= event.type() == Event::Type::LeftMouseUp && event.clickCount() == 2;
        return false;
    });
    ASSERT_TRUE(
        XServerInput::click(map.convertPointToGlobal(seen(WhereOnScreen::centre(*trip))).toPoint(), 2));
    ASSERT_TRUE(waitFor([&] { return doubleClicked; })) << "no double click reached the window";
    ASSERT_TRUE(popoverShows()) << "the double click opened no editor";
    auto editor = std::dynamic_pointer_cast<EditIdeaViewController>(trip->ideaEditor());
    ASSERT_NE(editor, nullptr) << "the second click closed the editor";
    EXPECT_TRUE(editor->popover()->isShown());
    // And it takes what the user types.
    ASSERT_TRUE(waitFor([&] { return editor->popover()->window()->isKeyWindow(); }));
    ASSERT_TRUE(XServerInput::key(QStringLiteral("ctrl+a")) && XServerInput::type(QStringLiteral("Holiday")));
    QLineEdit* title = editor->textTabView()->titleTextField()->field()->lineEdit();
    EXPECT_TRUE(waitFor([&] { return title->text() == QStringLiteral("Holiday"); }))
        << title->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Desktops, IdeaEditorJourney, kEachDesktop, desktopTestName);

} // namespace corvex::test
