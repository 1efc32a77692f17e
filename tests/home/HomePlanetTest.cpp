// Home planets: the arc's fullness, label and title colours, and a gallery of planets drawn
// from summaries, ordinary and hostile, written under test-output/home-planets/.

#include "home/HomePlanetLayer.h"
#include "home/IdeaViewForIPadListItem.h"
#include "model/Color.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/IconImage.h"
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

TEST(HomePlanet, LabelsFollowTheDiscsBrightnessAndBrightDiscsDarkenTheTitleInHighContrast)
{
    auto layer = HomePlanetLayer::create();
    layer->updateWithProxy(planetProxy(QStringLiteral("dark"), 3, planetColor(20, 30, 90)));
    EXPECT_EQ(layer->labelTextColor(), PlatformColor::deviceWhite(0.2));
    layer->updateWithProxy(planetProxy(QStringLiteral("light"), 3, planetColor(250, 240, 120)));
    EXPECT_EQ(layer->labelTextColor(), PlatformColor::deviceWhite(0.35));
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

// Every planet of the gallery draws: picture, icon, note, web link, a bright colour in high
// contrast, 0 to 200 ideas, and hostile summaries (huge and negative counts, endless and
// combining-only titles, no colour, no dates, an undecodable picture).
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
