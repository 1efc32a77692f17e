// A document written elsewhere: its ideas have no colours and their titles are in Chinese,
// Japanese, Korean, Arabic and Hebrew. On the home grid, in the mind map (its centre, planets
// and parent) and in the overview each planet shows the colour its place gives it; the
// document keeps no colour.

#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/ColorTheme.h"
#include "model/DrawnColor.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace corvex::test {

namespace {

IdeaPtr colourless(const QString& title, std::initializer_list<IdeaPtr> children = {})
{
    IdeaPtr idea = Idea::initWithText(title);
    for (const IdeaPtr& child : children)
        (void)idea->addIdea(child);
    return idea;
}

int colourGap(const QColor& a, const QColor& b)
{
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

class ColourlessDocumentJourney : public MindMapJourney
{
protected:
    // How far a disc's pixel may lie from its colour (in any component).
    static constexpr int kNear = 8;

    // The colour nearest to `wanted` that the screen shows within `reach` pixels above or below
    // the point (a planet's title sits in its middle, its disc around it), once it is within
    // `near` or after a few seconds: planets fade in.
    static QColor nearestShown(Window& window, Point point, const QColor& wanted, int reach, int near = kNear)
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return QColor();
        const QPoint global = window.convertPointToGlobal(point).toPoint();
        QColor nearest;
        waitFor(
            [&] {
                const QImage strip =
                    screen->grabWindow(0, global.x() - 1, global.y() - reach, 3, 2 * reach + 1).toImage();
                nearest = QColor();
                for (int y = 0; y < strip.height(); ++y) {
                    const QColor seen = strip.pixelColor(1, y);
                    if (!nearest.isValid() || colourGap(seen, wanted) < colourGap(nearest, wanted))
                        nearest = seen;
                }
                return nearest.isValid() && colourGap(nearest, wanted) <= near;
            },
            3.0);
        return nearest;
    }

    // Every idea of `ideas` shows its drawn colour within `reach` of the point `where` gives
    // for it.
    static void expectColoursShown(Window& window, const std::vector<IdeaPtr>& ideas,
                                   const std::function<std::optional<Point>(const Idea&)>& where, int reach)
    {
        for (const IdeaPtr& idea : ideas) {
            SCOPED_TRACE(idea->text().toStdString());
            const std::optional<Point> point = where(*idea);
            ASSERT_TRUE(point.has_value()) << "not shown";
            const QColor wanted = DrawnColor::ofIdea(*idea)->uiColor().toQColor();
            const QColor seen = nearestShown(window, *point, wanted, reach);
            EXPECT_LE(colourGap(seen, wanted), kNear)
                << qPrintable(seen.name()) << " for " << qPrintable(wanted.name());
        }
    }
};

} // namespace

TEST_F(ColourlessDocumentJourney, EveryPlanetShowsTheColourItsPlaceGivesItInEveryScript)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    const IdeaPtr written =
        colourless(QStringLiteral("Atlas"),
                   {colourless(QStringLiteral("中文")),
                    colourless(QStringLiteral("日本語"),
                               {colourless(QStringLiteral("東京")), colourless(QStringLiteral("大阪"))}),
                    colourless(QStringLiteral("한국어")), colourless(QStringLiteral("عربي")),
                    colourless(QStringLiteral("עברית"))});
    written->setColorThemeType(ColorThemeTypeVaryingColors);
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, written));
    auto home = waitForScreen<HomeViewController>([](HomeViewController& shown) {
        return WhereOnScreen::homeDocument(shown, QStringLiteral("Atlas")).has_value();
    });
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));

    // The home grid: the first standard colour.
    const Point onHome = seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Atlas")));
    const QColor first = ColorTheme::standardThemes().front()->colors().front()->uiColor().toQColor();
    const QColor homeSeen = nearestShown(window, onHome, first, 60);
    EXPECT_LE(colourGap(homeSeen, first), kNear) << qPrintable(homeSeen.name());
    screenshot(QStringLiteral("colourless-home"));

    // The mind map: the centre and each planet.
    ASSERT_TRUE(UserInput::rightClick(window, onHome, QStringLiteral("Open")).chose);
    auto atlas = mindMapOf(QStringLiteral("Atlas"), QStringLiteral("Atlas"));
    ASSERT_NE(atlas, nullptr);
    const IdeaPtr root = atlas->rootIdea();
    const QColor centreSeen = nearestShown(window, seen(WhereOnScreen::centre(*atlas)), first, 36);
    EXPECT_LE(colourGap(centreSeen, first), kNear) << "the centre: " << qPrintable(centreSeen.name());
    expectColoursShown(
        window, root->ideas(), [&](const Idea& idea) { return WhereOnScreen::planet(*atlas, idea.text()); },
        36);
    screenshot(QStringLiteral("colourless-map"));

    // Drilled into 日本語: its children, and the root as the parent planet, not black.
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*atlas, QStringLiteral("日本語"))),
                                      QStringLiteral("Open"))
                    .chose);
    auto drilled = mindMapOf(QStringLiteral("Atlas"), QStringLiteral("日本語"));
    ASSERT_NE(drilled, nullptr);
    expectColoursShown(
        window, ideaWithText(root, QStringLiteral("日本語"))->ideas(),
        [&](const Idea& idea) { return WhereOnScreen::planet(*drilled, idea.text()); }, 36);
    const QColor parentSeen = nearestShown(window, seen(WhereOnScreen::parent(*drilled)), first, 20, 40);
    EXPECT_LE(colourGap(parentSeen, first), 40) << "the parent planet: " << qPrintable(parentSeen.name());
    screenshot(QStringLiteral("colourless-drilled"));

    // The overview: every node.
    ASSERT_TRUE(showOverview(*drilled));
    std::vector<IdeaPtr> all{root};
    for (const IdeaPtr& child : root->ideas()) {
        all.push_back(child);
        for (const IdeaPtr& grandchild : child->ideas())
            all.push_back(grandchild);
    }
    expectColoursShown(
        window, all, [&](const Idea& idea) { return WhereOnScreen::overviewNode(*drilled, idea.text()); },
        12);
    screenshot(QStringLiteral("colourless-overview"));

    for (const IdeaPtr& idea : all)
        EXPECT_EQ(idea->color(), nullptr) << idea->text().toStdString() << " was given a colour";
}

} // namespace corvex::test
