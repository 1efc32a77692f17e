// The gallery: renderings of every planet type, idea view role, adder state, the dock, the
// parent view and the delete area, with and without colour, picture, icon, note, link and
// fade, written as PNG under test-output/mindmap-gallery/ for a person to look at. Each
// sheet also checks that every cell drew something where its planet or control stands.

#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetDrawer.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Color.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/ObjectID.h"
#include "platform/ui/Layer.h"
#include "tests/mindmap/IdeaViewTestSupport.h"
#include "toolkit/ViewExtensions.h"

#include <QFileInfo>
#include <QtGlobal>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;
using namespace corvex::test;

namespace {

const QColor kGalleryBackground(34, 38, 46);
constexpr double kGalleryScale = 2;
const QString kGalleryTitle = QStringLiteral("A title of three lines in a planet");

ColorPtr galleryColour()
{
    return Color::withHSV(QStringLiteral("ocean"), 205.0f, 0.7f, 0.75f, 1.0f, false, nullptr);
}

ColorPtr galleryBrightColour()
{
    return Color::withHSV(QStringLiteral("sand"), 45.0f, 0.35f, 0.97f, 1.0f, true, nullptr);
}

IconImagePtr galleryIcon()
{
    return IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("travel"),
                                   QString::fromUtf8("🚀"));
}

// One sheet: a window of cells in a row (or rows), a dark background, rendered at scale 2.
class GallerySheet
{
public:
    GallerySheet(int columns, int rows, double cell)
        : mCell(cell), mColumns(columns), mWindow(Size(columns * cell, rows * cell))
    {
        mWindow.window->setBackgroundColor(PlatformColor::fromQColor(kGalleryBackground));
    }

    // The centre of cell i (left to right, then top to bottom) in the content view.
    Point centre(int i) const { return Point((i % mColumns + 0.5) * mCell, (i / mColumns + 0.5) * mCell); }

    void addView(int i, const std::shared_ptr<View>& view)
    {
        mWindow.content->addSubview(view);
        ViewExtensions::setCenter(*view, centre(i));
        mProbes.push_back(centre(i));
    }
    // `probeCentre` false for a planet without a disc (no colour, no picture).
    void addLayer(int i, const std::shared_ptr<Layer>& layer, bool probeCentre = true)
    {
        mWindow.content->layer()->addSublayer(layer);
        layer->setPosition(centre(i));
        if (probeCentre)
            mProbes.push_back(centre(i));
    }
    // A cell expected to stay empty.
    void leaveEmpty(int i) { mEmpty.push_back(centre(i)); }
    // A point that must show something other than the background.
    void probe(Point p) { mProbes.push_back(p); }

    IdeaViewWindow& window() { return mWindow; }

    // Renders, saves and checks the probes.
    void finish(const QString& name)
    {
        const QImage image = mWindow.window->renderToImage(kGalleryScale);
        ASSERT_FALSE(image.isNull());
        const QString path = saveGalleryImage(image, name);
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
        for (Point p : mProbes)
            EXPECT_FALSE(
                pixelNear(image, int(p.x * kGalleryScale), int(p.y * kGalleryScale), kGalleryBackground, 4))
                << name.toStdString() << ": nothing drawn at " << p.x << ", " << p.y;
        for (Point p : mEmpty)
            EXPECT_TRUE(
                pixelNear(image, int(p.x * kGalleryScale), int(p.y * kGalleryScale), kGalleryBackground, 4))
                << name.toStdString() << ": something drawn at " << p.x << ", " << p.y;
    }

private:
    double mCell;
    int mColumns;
    IdeaViewWindow mWindow;
    std::vector<Point> mProbes;
    std::vector<Point> mEmpty;
};

struct PlanetVariant
{
    const char* name;
    std::function<void(PlanetLayer&)> apply;
};

std::vector<PlanetVariant> planetVariants()
{
    return {
        {"colour", [](PlanetLayer& p) { p.setBaseColor(galleryColour()); }},
        {"colour+icon",
         [](PlanetLayer& p) {
             p.setBaseColor(galleryColour());
             p.setIconImage(galleryIcon());
         }},
        {"colour+note mark",
         [](PlanetLayer& p) {
             p.setBaseColor(galleryColour());
             p.setNote(QStringLiteral("note"));
             p.setShowOrbit(true);
         }},
        {"colour+note number",
         [](PlanetLayer& p) {
             p.setBaseColor(galleryColour());
             p.planetDrawer()->setNoteNumber(7);
         }},
        {"colour+dots",
         [](PlanetLayer& p) {
             p.setBaseColor(galleryColour());
             p.setShowOrbit(true);
         }},
        {"colour+link",
         [](PlanetLayer& p) {
             p.setBaseColor(galleryColour());
             p.setIsLink(true);
         }},
        {"colour+fade",
         [](PlanetLayer& p) {
             p.setBaseColor(galleryColour());
             p.planetDrawer()->setFade(true);
         }},
        {"bright+high contrast", [](PlanetLayer& p) { p.setBaseColor(galleryBrightColour()); }},
        {"picture", [](PlanetLayer& p) { p.setImage(quadrantPicture(160, 160)); }},
        {"picture+web link+dots+link",
         [](PlanetLayer& p) {
             p.setImage(quadrantPicture(160, 160));
             p.setShowWebLink(true);
             p.setShowOrbit(true);
             p.setIsLink(true);
         }},
        {"picture+fade",
         [](PlanetLayer& p) {
             p.setImage(quadrantPicture(160, 160));
             p.planetDrawer()->setFade(true);
         }},
        {"no colour", [](PlanetLayer&) {}},
    };
}

} // namespace

TEST(MindmapGallery, EveryPlanetTypeWithEveryFeature)
{
    // The high-contrast cell needs the setting; the others are white-titled anyway.
    Globals::setHighContrastText(true);
    const quint64 types[] = {0, 1, 2, 3, 4, 5, 6, 9};
    const auto variants = planetVariants();
    for (quint64 type : types) {
        const double side = 2.5 * PlanetDrawer::radiusForPlanetType(type);
        GallerySheet sheet(int(variants.size()), 1, side + 16);
        for (int i = 0; i < int(variants.size()); ++i) {
            auto planet = PlanetLayer::create(type);
            planet->setText(kGalleryTitle);
            variants[std::size_t(i)].apply(*planet);
            planet->updateAppearance();
            const bool hasDisc = planet->baseColor() || planet->image().hasImage();
            sheet.addLayer(i, planet, hasDisc);
        }
        sheet.finish(QStringLiteral("planet-type-%1").arg(type));
    }
}

TEST(MindmapGallery, TitlesFromAnyDocumentStayInsideThePlanet)
{
    const QString titles[] = {
        QString(10000, QLatin1Char('w')),
        QStringLiteral("word ").repeated(2000),
        QString(),
        QStringLiteral("\n\n\n\n"),
        QString::fromUtf8("مرحبا بالعالم هذا عنوان طويل"),
        QString::fromUtf8("🚀🌍✨ emoji 🎉 and text 👩‍👩‍👧"),
        QStringLiteral("Supercalifragilisticexpialidocious"),
    };
    const int count = int(std::size(titles)) + 1;
    GallerySheet sheet(count, 1, 156);
    for (int i = 0; i < count - 1; ++i) {
        auto planet = PlanetLayer::create(0);
        planet->setBaseColor(galleryColour());
        planet->setText(titles[i]);
        sheet.addLayer(i, planet);
    }
    // A note number beyond 32 bits, printed in full.
    auto planet = PlanetLayer::create(0);
    planet->setBaseColor(galleryColour());
    planet->setText(QStringLiteral("Big note number"));
    planet->planetDrawer()->setNoteNumber(qint64(1) << 33);
    planet->setShowOrbit(true);
    sheet.addLayer(count - 1, planet);
    sheet.finish(QStringLiteral("titles"));
}

TEST(MindmapGallery, EveryIdeaViewRole)
{
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("Central idea with a longer title"));
    idea->setColor(galleryColour());
    idea->setIconImage(galleryIcon());
    idea->setNote(QStringLiteral("note"));
    const IdeaPtr picture = Idea::initWithImageAttachment(quadrantPicture(), ObjectID());

    GallerySheet sheet(7, 1, 250);
    const quint64 roles[] = {1, 2, 3, 7};
    int cell = 0;
    for (quint64 role : roles) {
        auto view = SimpleIdeaView::create(role);
        view->updateWithIdea(idea.get(), QStringLiteral("temp:/doc"));
        view->setShowOrbit(true);
        sheet.addView(cell++, view);
    }
    // A docked picture idea, its drag copy, and a home-grid item over a plain layer.
    auto pictureView = SimpleIdeaView::create(3);
    pictureView->updateWithIdea(picture.get(), QStringLiteral("temp:/doc"));
    pictureView->setHasWebLink(true);
    sheet.addView(cell++, pictureView);
    auto copy = pictureView->copyForDragging();
    copy->setShadowMode(true);
    sheet.addView(cell++, copy);
    auto plain = Layer::create();
    plain->setBackgroundColor(galleryBrightColour()->uiColor());
    plain->setCornerRadius(IdeaView::sideLengthForRole(2) / 2);
    auto grid = IdeaView::create(2, plain);
    sheet.addView(cell++, grid);
    sheet.finish(QStringLiteral("idea-view-roles"));
}

TEST(MindmapGallery, EveryAdderState)
{
    GallerySheet sheet(7, 1, 56);
    sheet.window().window->setBackgroundColor(PlatformColor::fromQColor(QColor(236, 239, 241)));
    struct Cell
    {
        quint64 state;
        bool focus;
        bool hovered;
    };
    const Cell cells[] = {{1, false, false}, {1, false, true},  {2, false, false}, {3, false, false},
                          {3, true, false},  {0, false, false}, {4, false, false}};
    std::vector<std::shared_ptr<IdeaAdderView>> adders;
    for (int i = 0; i < int(std::size(cells)); ++i) {
        auto adder = IdeaAdderView::create();
        adder->setAdderState(cells[i].state);
        adder->setInFocus(cells[i].focus);
        sheet.window().content->addSubview(adder);
        ViewExtensions::setCenter(*adder, sheet.centre(i));
        adders.push_back(adder);
    }
    View::runUpdateCycle();
    // The pointer rests on the second adder.
    sheet.window().window->sendEvent(Event::mouseMoved(IdeaViewWindow::inWindow(*adders[1], Point(20, 20))));
    const QImage image = sheet.window().window->renderToImage(kGalleryScale);
    saveGalleryImage(image, QStringLiteral("adders"));
    const QColor background(236, 239, 241);
    for (int i = 0; i < int(std::size(cells)); ++i) {
        const Point c = sheet.centre(i);
        // Every image covers the circle of radius 11.5 around its centre; the hovered plus
        // reaches past 16.6, the plain one does not.
        const bool hidden = cells[i].state == 0 || cells[i].state == 4;
        const bool drawn = !pixelNear(image, int(c.x * 2), int((c.y - 11.5) * 2), background, 4);
        EXPECT_EQ(drawn, !hidden) << "cell " << i;
    }
    EXPECT_FALSE(
        pixelNear(image, int(sheet.centre(1).x * 2), int((sheet.centre(1).y - 16.6) * 2), background, 4))
        << "the hovered plus is larger";
    EXPECT_TRUE(
        pixelNear(image, int(sheet.centre(0).x * 2), int((sheet.centre(0).y - 16.6) * 2), background, 4))
        << "the plain one is not";
}

TEST(MindmapGallery, TheDockEmptyAndHoldingIdeas)
{
    GallerySheet sheet(3, 1, 80);
    sheet.window().window->setBackgroundColor(PlatformColor::fromQColor(QColor(236, 239, 241)));
    auto empty = DockAreaView::create();
    sheet.addView(0, empty);
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("Docked idea"));
    idea->setColor(galleryColour());
    auto coloured = DockAreaView::create();
    coloured->takeIdeaInside(idea.get(), QStringLiteral("temp:/doc"));
    sheet.addView(1, coloured);
    const IdeaPtr picture = Idea::initWithImageAttachment(quadrantPicture(), ObjectID());
    auto pictured = DockAreaView::create();
    pictured->takeIdeaInside(picture.get(), QStringLiteral("temp:/doc"));
    sheet.addView(2, pictured);
    sheet.finish(QStringLiteral("dock"));
}

TEST(MindmapGallery, TheParentViewAndTheDeleteArea)
{
    Globals::setHighContrastText(false);
    GallerySheet sheet(5, 1, 140);
    auto dark = ParentIdeaView::createWithText(QStringLiteral("The parent idea"), galleryColour());
    sheet.addView(0, dark);
    auto bright = ParentIdeaView::createWithText(QStringLiteral("A bright parent"), galleryBrightColour());
    sheet.addView(1, bright);
    auto longTitle = ParentIdeaView::createWithText(
        QStringLiteral("A parent whose title is far too long for its corner"), galleryColour());
    sheet.addView(2, longTitle);
    auto picture = ParentIdeaView::createWithImage(quadrantPicture(120, 120));
    sheet.addView(3, picture);
    auto hole = DeleteAreaView::create();
    sheet.addView(4, hole);
    sheet.finish(QStringLiteral("parent-and-delete-area"));

    Globals::setHighContrastText(true);
    GallerySheet contrast(1, 1, 140);
    auto grey = ParentIdeaView::createWithText(QStringLiteral("High contrast"), galleryBrightColour());
    contrast.addView(0, grey);
    contrast.finish(QStringLiteral("parent-high-contrast"));
    Globals::setHighContrastText(false);
}
