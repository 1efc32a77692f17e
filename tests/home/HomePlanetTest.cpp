// Home planets: the arc's fullness, label and title colours, and a gallery of planets drawn
// from summaries, ordinary and hostile, written under test-output/home-planets/.

#include "graphics/ColorContrast.h"
#include "home/HomePlanetLayer.h"
#include "home/IdeaViewForIPadListItem.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Color.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Window.h"
#include "storage/IdeaProxy.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/BaseView.h"
#include "toolkit/ColoredView.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

IdeaProxyPtr planetProxy(const QString& text, qint64 count, const ColorPtr& color)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(QStringLiteral("iCloud:/gallery.crvx"));
    proxy->setText(text);
    proxy->setItemCount(count);
    proxy->setColor(color);
    proxy->setDateCreated(QDateTime(QDate(2025, 3, 4), QTime(10, 0), Qt::UTC));
    proxy->setDateModified(QDateTime(QDate(2026, 1, 1), QTime(9, 30), Qt::UTC));
    return proxy;
}

ColorPtr planetColor(double r, double g, double b)
{
    return Color::withRGB(QStringLiteral("planet"), RGBA{r, g, b, 1.0});
}

// The first colour of the standard themes that counts as bright.
ColorPtr firstBrightThemeColor()
{
    for (const auto& theme : ColorTheme::standardThemes())
        for (const auto& color : theme->colors())
            if (color->isBright())
                return color;
    return nullptr;
}

QRgb pixelAt(const QImage& image, double x, double y)
{
    return image.pixel(int(x), int(y));
}

} // namespace

TEST(HomePlanet, FullnessGrowsWithTheIdeasAndStaysBetweenAHundredthAndOne)
{
    EXPECT_FLOAT_EQ(HomePlanetLayer::fullnessForItemCount(0), 0.01f);
    EXPECT_NEAR(HomePlanetLayer::fullnessForItemCount(19), 0.3539f, 1e-4);
    EXPECT_NEAR(HomePlanetLayer::fullnessForItemCount(50), 0.76f, 1e-6);
    EXPECT_FLOAT_EQ(HomePlanetLayer::fullnessForItemCount(100), 1.0f);
    // Counts from stored summaries may be anything.
    EXPECT_FLOAT_EQ(HomePlanetLayer::fullnessForItemCount(-7), 0.01f);
    EXPECT_FLOAT_EQ(HomePlanetLayer::fullnessForItemCount(std::numeric_limits<qint64>::max()), 1.0f);
    EXPECT_FLOAT_EQ(HomePlanetLayer::fullnessForItemCount(std::numeric_limits<qint64>::min()), 0.01f);
}

// Labels, dates and counts are white on dark discs and black on light ones, whichever reads
// better.
TEST(HomePlanet, LabelsFollowTheDiscsBrightnessAndBrightDiscsDarkenTheTitleInHighContrast)
{
    auto layer = HomePlanetLayer::create();
    layer->updateWithProxy(planetProxy(QStringLiteral("dark"), 3, planetColor(20, 30, 90)));
    EXPECT_EQ(layer->labelTextColor(), PlatformColor::white());
    layer->updateWithProxy(planetProxy(QStringLiteral("light"), 3, planetColor(250, 240, 120)));
    EXPECT_EQ(layer->labelTextColor(), PlatformColor::black());
    EXPECT_EQ(layer->textColor(), PlatformColor::white());

    const ColorPtr bright = firstBrightThemeColor();
    ASSERT_TRUE(bright);
    Globals::setHighContrastText(true);
    layer->updateWithProxy(planetProxy(QStringLiteral("bright"), 3, bright));
    EXPECT_EQ(layer->textColor(), PlatformColor::deviceWhite(0.33));
    Globals::setHighContrastText(false);
    layer->updateAppearance();
    EXPECT_EQ(layer->textColor(), PlatformColor::white());
}

// The fields of a planet in every colour of the themes, drawn at three times the size: in
// each of the five lines (created, modified: label and date; the count) the ink reaches a
// contrast of 4.5:1 against the disc. The count reads "1 element" and "N elements".
TEST(HomePlanet, LabelsDatesAndCountsReachFourAndAHalfToOneOnEveryThemeColour)
{
    EXPECT_EQ(HomePlanetLayer::elementsText(1), QStringLiteral("1 element"));
    EXPECT_EQ(HomePlanetLayer::elementsText(0), QStringLiteral("0 elements"));
    EXPECT_EQ(HomePlanetLayer::elementsText(27), QStringLiteral("27 elements"));
    ScopedVirtualTime time;
    std::vector<ColorPtr> colours;
    for (const auto* themes : {&ColorTheme::standardThemes(), &ColorTheme::brightColorThemes()})
        for (const auto& theme : *themes)
            colours.insert(colours.end(), theme->colors().begin(), theme->colors().end());
    ASSERT_EQ(colours.size(), 56u);
    constexpr double kScale = 3;
    const double r = HomePlanetLayer::Radius;
    const double c = 232.5 / 2;
    // Where each line lies, y up from the disc's bottom, x from its left: the labels' baseline
    // 68 above the bottom, the values' 14.5 below, the count's 24 above (one line).
    struct Line
    {
        const char* name;
        double left, right, bottom, top;
    };
    const Line lines[] = {{"created label", 27, 100, 66, 78},
                          {"created date", 27, 100, 50, 63},
                          {"modified label", 110, 190, 66, 78},
                          {"modified date", 110, 190, 50, 63},
                          {"count", 43, 143, 21, 34}};
    auto layer = HomePlanetLayer::create();
    layer->setBounds(Rect(0, 0, 232.5, 232.5));
    for (const ColorPtr& colour : colours) {
        SCOPED_TRACE(colour->name().toStdString());
        layer->updateWithProxy(planetProxy(QString(), 1, colour));
        // A bitmap's user space is y-up, as the layer draws.
        auto context = GraphicsContext::createBitmap(232.5 * kScale, 232.5 * kScale);
        ASSERT_TRUE(context);
        context->scaleCTM(kScale, kScale);
        layer->drawInContext(*context);
        const QImage image = context->makeImage();
        ASSERT_FALSE(image.isNull());
        const RGBA disc = colour->rgba();
        for (const Line& line : lines) {
            double best = 1;
            int inked = 0;
            for (double y = line.bottom; y < line.top; y += 1 / kScale)
                for (double x = line.left; x < line.right; x += 1 / kScale) {
                    // Inside the arc (radius 89 around the centre).
                    if (std::hypot(x - r, y - r) > 86)
                        continue;
                    const QRgb p =
                        pixelAt(image, kScale * (c - r + x), image.height() - kScale * (c - r + y));
                    const RGBA seen{double(qRed(p)), double(qGreen(p)), double(qBlue(p)), 1};
                    const double contrast = ColorContrast::contrastRatio(seen, disc);
                    inked += contrast > 1.2 ? 1 : 0;
                    best = std::max(best, contrast);
                }
            EXPECT_GT(inked, 10) << line.name;
            EXPECT_GE(best, ColorContrast::kLegibleText) << line.name;
        }
    }
}

// A document whose root has no colour (written elsewhere) shows the first standard colour on
// its planet and on the planet dragged from it; its summary keeps no colour.
TEST(HomePlanet, ADocumentWithoutAColourShowsTheFirstStandardColour)
{
    ScopedVirtualTime time;
    const ColorPtr first = ColorTheme::standardThemes().front()->colors().front();
    const IdeaProxyPtr proxy = planetProxy(QString(), 4, nullptr);
    auto layer = HomePlanetLayer::create();
    layer->setBounds(Rect(0, 0, 232.5, 232.5));
    layer->updateWithProxy(proxy);
    auto context = GraphicsContext::createBitmap(232.5, 232.5);
    ASSERT_TRUE(context);
    layer->drawInContext(*context);
    const QImage image = context->makeImage();
    // 40 points above the middle: disc, no text.
    const QColor seen = image.pixelColor(116, 116 - 40);
    const QColor wanted = first->uiColor().toQColor();
    EXPECT_LE(std::max({std::abs(seen.red() - wanted.red()), std::abs(seen.green() - wanted.green()),
                        std::abs(seen.blue() - wanted.blue())}),
              4)
        << qPrintable(seen.name());
    auto item = IdeaViewForIPadListItem::create();
    item->updateWithProxy(proxy);
    const auto dragged = std::dynamic_pointer_cast<SimpleIdeaView>(item->copyForDragging());
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->baseColor(), first);
    EXPECT_EQ(proxy->color(), nullptr);
}

// Every planet of the gallery draws: picture, icon, note, web link, a bright colour in high
// contrast, 0 to 200 ideas, and hostile summaries (huge and negative counts, endless and
// combining-only titles, no colour, no dates, an undecodable picture).
// A planet keeps its typeset title and measured fields between redraws: whatever changes
// (title, count, icon, text size, contrast, a picture), the redraw is the drawing of a new
// planet from the same summary.
TEST(HomePlanet, ARedrawAfterAnyChangeIsTheDrawingOfAFreshPlanet)
{
    ScopedVirtualTime time;
    const ColorPtr blue = planetColor(40, 110, 200);
    const auto withIcon = [&](const QString& text) {
        auto proxy = planetProxy(text, 8, blue);
        proxy->setIconImage(IconImage::initWithName(QStringLiteral("airplane"), QStringLiteral("travel"),
                                                    QString::fromUtf8("\u2708\ufe0f")));
        return proxy;
    };
    auto picture = planetProxy(QString(), 12, nullptr);
    picture->setImage(QVImage::initWithPNGData(makeSmallPicturePng(3)));
    struct Step
    {
        const char* name;
        IdeaProxyPtr proxy;
        int fontSizeFactor = 5;
        bool highContrast = false;
    };
    const Step steps[] = {
        {"first", planetProxy(QStringLiteral("Planets of the grid"), 19, blue)},
        {"new title", planetProxy(QStringLiteral("Other planets"), 19, blue)},
        {"new count", planetProxy(QStringLiteral("Other planets"), 1, blue)},
        {"larger text", planetProxy(QStringLiteral("Other planets"), 1, blue), 7},
        {"smaller text", planetProxy(QStringLiteral("Other planets"), 1, blue), 3},
        {"icon", withIcon(QStringLiteral("Other planets"))},
        {"no icon", planetProxy(QStringLiteral("Other planets"), 8, blue)},
        {"high contrast", planetProxy(QStringLiteral("Other planets"), 8, firstBrightThemeColor()), 5, true},
        {"picture", picture},
        {"back", planetProxy(QStringLiteral("Planets of the grid"), 100, blue)},
    };
    const auto shown = [](HomePlanetLayer& layer) {
        layer.display();
        return layer.contents().copy();
    };
    const auto make = [] {
        auto layer = HomePlanetLayer::create();
        layer->setBounds(Rect(0, 0, 232.5, 232.5));
        layer->setContentsScale(2);
        return layer;
    };
    const auto kept = make();
    for (const Step& step : steps) {
        Globals::changeFontSizeFactor(step.fontSizeFactor);
        Globals::setHighContrastText(step.highContrast);
        kept->updateWithProxy(step.proxy);
        kept->updateAppearance();
        const auto fresh = make();
        fresh->updateWithProxy(step.proxy);
        EXPECT_TRUE(shown(*kept) == shown(*fresh)) << step.name;
    }
    Globals::changeFontSizeFactor(5);
    Globals::setHighContrastText(false);
}

TEST(HomePlanet, GalleryOfOrdinaryAndHostileSummariesDraws)
{
    ScopedVirtualTime time;
    struct Case
    {
        QString name;
        IdeaProxyPtr proxy;
        bool highContrast = false;
    };
    std::vector<Case> cases;
    const ColorPtr blue = planetColor(40, 110, 200);
    for (qint64 count : {0, 1, 19, 50, 100, 200})
        cases.push_back({QStringLiteral("ideas-%1").arg(count),
                         planetProxy(QStringLiteral("Planets of the grid"), count, blue)});
    auto picture = planetProxy(QString(), 12, nullptr);
    picture->setImage(QVImage::initWithPNGData(makeSmallPicturePng(3)));
    picture->setHasWebLink(true);
    cases.push_back({QStringLiteral("picture-weblink"), picture});
    auto icon = planetProxy(QStringLiteral("Travel plans"), 8, planetColor(230, 120, 40));
    icon->setIconImage(IconImage::initWithName(QStringLiteral("airplane"), QStringLiteral("travel"),
                                               QString::fromUtf8("\u2708\ufe0f")));
    cases.push_back({QStringLiteral("icon"), icon});
    auto note = planetProxy(QStringLiteral("With a note"), 4, planetColor(90, 160, 60));
    note->setHasNote(true);
    cases.push_back({QStringLiteral("note"), note});
    const ColorPtr bright = firstBrightThemeColor();
    cases.push_back(
        {QStringLiteral("bright-high-contrast"), planetProxy(QStringLiteral("Bright"), 30, bright), true});
    cases.push_back({QStringLiteral("huge-count"),
                     planetProxy(QStringLiteral("Huge"), std::numeric_limits<qint64>::max(), blue)});
    cases.push_back({QStringLiteral("negative-count"), planetProxy(QStringLiteral("Negative"), -40, blue)});
    cases.push_back({QStringLiteral("long-title"), planetProxy(QString(10000, QLatin1Char('w')), 5, blue)});
    cases.push_back({QStringLiteral("combining-only"), planetProxy(QString(300, QChar(0x0301)), 5, blue)});
    auto bare = IdeaProxy::init();
    bare->setText(QStringLiteral("No colour, no dates"));
    cases.push_back({QStringLiteral("bare"), bare});
    auto broken = planetProxy(QStringLiteral("Broken picture"), 2, blue);
    broken->setImage(QVImage::initWithSomeData(QByteArray("\x89PNG\r\n\x1a\nbroken", 14)));
    cases.push_back({QStringLiteral("undecodable-picture"), broken});

    const QString folder = testOutputDir() + QStringLiteral("/home-planets");
    QDir().mkpath(folder);
    for (const Case& item : cases) {
        Globals::setHighContrastText(item.highContrast);
        auto window = Window::create(Size(240, 240));
        // A dark ground, so that the arc shows also where no disc is filled.
        auto content = ColoredView::create(Globals::colorGray26());
        content->setFrame(Rect(0, 0, 240, 240));
        window->setContentView(content);
        auto planet = IdeaViewForIPadListItem::create();
        planet->updateWithProxy(item.proxy);
        content->addSubview(planet);
        View::runUpdateCycle();
        const QImage image = window->renderToImage(2.0);
        ASSERT_FALSE(image.isNull()) << item.name.toStdString();
        EXPECT_TRUE(image.save(folder + QLatin1Char('/') + item.name + QStringLiteral(".png")));
        // The arc's end at 245 degrees is white on every planet (radius 89 around the centre).
        const double c = 232.5 / 2;
        bool white = false;
        for (int dx = -2; dx <= 2; ++dx)
            for (int dy = -2; dy <= 2; ++dy) {
                const QRgb p = pixelAt(image, 2 * (c + 89 * std::cos(244 * M_PI / 180)) + dx,
                                       2 * (c - 89 * std::sin(244 * M_PI / 180)) + dy);
                white = white || (qRed(p) > 220 && qGreen(p) > 220 && qBlue(p) > 220);
            }
        EXPECT_TRUE(white) << item.name.toStdString();
        window->close();
    }
    Globals::setHighContrastText(false);
}

} // namespace corvex::test
