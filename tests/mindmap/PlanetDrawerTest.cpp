// The planet drawer: the geometry a user sees or touches (note badge, its hit margins, the
// icon and title areas, the integral disc rule), out-of-range types and text size factors,
// bad titles and pictures, and drawing on a worker thread.

#include "PlanetDrawerTestSupport.h"

#include "model/Globals.h"
#include "model/IconImage.h"
#include "platform/gfx/TextFrame.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <cmath>
#include <thread>

namespace corvex {
namespace {

// A planet drawer filled the way the benchmark and the thread test draw it.
std::unique_ptr<PlanetDrawer> busyPlanet(quint64 type, bool picture)
{
    auto drawer = std::make_unique<PlanetDrawer>(type);
    drawer->setBaseColor(test::planetTestColor());
    if (picture)
        drawer->setImage(QVImage(test::planetDataImage(QStringLiteral("picture"))));
    drawer->setText(QStringLiteral("Three lines of title text set inside the planet"));
    drawer->setIconImage(IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("travel"),
                                                 QString::fromUtf8("\xF0\x9F\x9A\x80")));
    drawer->setShowOrbit(true);
    drawer->setNoteNumber(42);
    drawer->setIsLink(true);
    drawer->setShowWebLink(true);
    return drawer;
}

// Pixels of a colour close to pure red (the probes' title colour).
bool isRedInk(QRgb p)
{
    return qAlpha(p) > 40 && qRed(p) > qGreen(p) + 40 && qRed(p) > qBlue(p) + 40;
}

TEST(PlanetDrawer, UnknownTypesDrawAsAnOrbitPlanet)
{
    for (quint64 type : {quint64(7), quint64(1000), ~quint64(0)}) {
        PlanetDrawer unknown(type);
        PlanetDrawer orbit(0);
        for (PlanetDrawer* d : {&unknown, &orbit}) {
            d->setBaseColor(test::planetTestColor());
            d->setText(QStringLiteral("Same title"));
            d->setShowOrbit(true);
            d->setNoteNumber(-1);
        }
        EXPECT_EQ(unknown.scaledSize(), Size(140, 140)) << type;
        EXPECT_EQ(test::drawPlanetBitmap(unknown, 2), test::drawPlanetBitmap(orbit, 2)) << type;
    }
}

TEST(PlanetDrawer, TextSizeFactorsOutsideTheRangeDrawAsTheNearestEnd)
{
    struct Case
    {
        qint64 factor;
        qint64 sameAs;
    };
    for (const Case& c : {Case{-5, 3}, Case{0, 3}, Case{3, 3}, Case{7, 7}, Case{8, 7}, Case{1000, 7}}) {
        for (quint64 type : {0, 1, 2, 6}) {
            PlanetDrawer a(type);
            PlanetDrawer b(type);
            a.setFontSize(PlanetDrawer::fontSizeForPlanetType(type, c.factor));
            b.setFontSize(PlanetDrawer::fontSizeForPlanetType(type, c.sameAs));
            for (PlanetDrawer* d : {&a, &b})
                d->setText(QStringLiteral("Title words"));
            EXPECT_EQ(test::drawPlanetBitmap(a, 1), test::drawPlanetBitmap(b, 1))
                << "factor " << c.factor << " type " << type;
        }
    }
    // The stored setting drives the drawer's own font size.
    Globals::changeFontSizeFactor(7);
    EXPECT_EQ(PlanetDrawer(1).fontSize(), 19.5f);
    Globals::changeFontSizeFactor(3);
    EXPECT_EQ(PlanetDrawer(6).fontSize(), 11.0f);
}

TEST(PlanetDrawer, NoteMarkSitsCentredAboveTheDots)
{
    for (float scale : {1.0f, 2.0f}) {
        PlanetDrawer noteOnly(0);
        noteOnly.setScale(scale);
        noteOnly.setNoteNumber(-1);
        PlanetDrawer dotsOnly(0);
        dotsOnly.setScale(scale);
        dotsOnly.setNoteNumber(-1); // the dots sit lower with a badge
        dotsOnly.setShowOrbit(true);
        PlanetDrawer bare(0);
        bare.setScale(scale);
        const QImage background = test::drawPlanetBitmap(bare, 4);
        const QImage note = test::drawPlanetBitmap(noteOnly, 4);
        const QImage dots = test::drawPlanetBitmap(dotsOnly, 4);
        auto inkBox = [&](const QImage& image, const QImage& under) {
            QRect box;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixel(x, y) != under.pixel(x, y))
                        box = box.united(QRect(x, y, 1, 1));
            return box;
        };
        const QRectF noteBox = QRectF(inkBox(note, background));
        const QRectF dotsBox = QRectF(inkBox(dots, note));
        ASSERT_FALSE(noteBox.isEmpty());
        ASSERT_FALSE(dotsBox.isEmpty());
        const double unit = 4.0; // pixels a drawing unit
        const Point m = noteOnly.scaledCenter();
        // Centred on the planet's vertical axis, within a pixel.
        EXPECT_NEAR(noteBox.center().x() / unit, m.x, 0.5) << scale;
        EXPECT_NEAR(dotsBox.center().x() / unit, m.x, 0.5) << scale;
        // The badge's bottom lies about 3 units above the dots' top (whole units outward).
        const double gap = (dotsBox.top() - (noteBox.bottom() + 1)) / unit;
        EXPECT_GE(gap, 1.0) << scale;
        EXPECT_LE(gap, 6.0) << scale;
        // The badge's ink lies inside its rectangle.
        const Rect n = noteOnly.noteRect();
        EXPECT_TRUE(QRectF(n.origin.x * unit, n.origin.y * unit, n.size.width * unit, n.size.height * unit)
                        .contains(noteBox))
            << scale;
        // The dots' bottom is 0.9 radius below the centre.
        EXPECT_NEAR((dotsBox.bottom() + 1) / unit, m.y + 0.9 * dotsOnly.scaledRadius(), 1.0) << scale;
    }
}

TEST(PlanetDrawer, NoteHitsTakeTheMarginsAroundTheBadge)
{
    for (float scale : {1.0f, 0.5f, 2.0f}) {
        PlanetDrawer drawer(1);
        drawer.setScale(scale);
        drawer.setNoteNumber(-1);
        const Rect n = drawer.noteRect();
        const Point m = drawer.scaledCenter();
        const double s = scale;
        const double midX = n.midX() - m.x;
        const double midY = n.midY() - m.y;
        struct Probe
        {
            double x;
            double y;
            bool hits;
        };
        const double e = 0.01;
        const Probe probes[] = {
            {midX, midY, true},
            {n.minX() - 9 * s + e - m.x, midY, true},
            {n.minX() - 9 * s - e - m.x, midY, false},
            {n.maxX() + 7 * s - e - m.x, midY, true},
            {n.maxX() + 7 * s + e - m.x, midY, false},
            {midX, n.minY() - 5 * s + e - m.y, true},
            {midX, n.minY() - 5 * s - e - m.y, false},
            {midX, n.maxY() + 8 * s - e - m.y, true},
            {midX, n.maxY() + 8 * s + e - m.y, false},
            {0, 0, false},
        };
        for (const Probe& p : probes)
            EXPECT_EQ(drawer.hitsNote(Point(p.x, p.y)), p.hits)
                << "scale " << s << " at " << p.x << ", " << p.y;
        drawer.setNoteNumber(0);
        EXPECT_FALSE(drawer.hitsNote(Point(midX, midY)));
        drawer.setNoteNumber(12);
        EXPECT_TRUE(drawer.hitsNote(Point(midX, midY)));
    }
}

TEST(PlanetDrawer, IconSquareSitsAboveTheCentre)
{
    struct Case
    {
        quint64 type;
        QRect square; // drawing units at scale 1
    };
    for (const Case& c : {Case{0, QRect(59, 22, 22, 22)}, Case{1, QRect(80, 30, 30, 30)}}) {
        PlanetDrawer drawer(c.type);
        QImage icon(40, 40, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::red);
        drawer.setIconPicture(PlatformImage(icon));
        const QImage image = test::drawPlanetBitmap(drawer, 2);
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (isRedInk(image.pixel(x, y)))
                    box = box.united(QRect(x, y, 1, 1));
        EXPECT_EQ(box, QRect(c.square.x() * 2, c.square.y() * 2, c.square.width() * 2, c.square.height() * 2))
            << c.type;
    }
}

TEST(PlanetDrawer, DiscIsMadeIntegralOnlyAboveHalfScale)
{
    // Type 2 at these scales has a disc whose edges fall between whole units.
    struct Case
    {
        float scale;
        bool integral;
    };
    for (const Case& c : {Case{0.5f, false}, Case{0.4f, false}, Case{0.51f, true}, Case{1.0f, true}}) {
        PlanetDrawer drawer(2);
        drawer.setScale(c.scale);
        drawer.setBaseColor(test::planetTestColor());
        const double unit = 8;
        const QImage image = test::drawPlanetBitmap(drawer, unit);
        const Point m = drawer.scaledCenter();
        const double left = m.x - drawer.scaledRadius();
        const int row = int(m.y * unit);
        int firstBlue = -1;
        for (int x = 0; x < image.width() && firstBlue < 0; ++x) {
            const QRgb p = image.pixel(x, row);
            if (qAlpha(p) > 200 && qBlue(p) > qRed(p) + 80)
                firstBlue = x;
        }
        ASSERT_GE(firstBlue, 0);
        const double expected = c.integral ? std::floor(left) : left;
        EXPECT_NEAR(firstBlue / unit, expected, 1.5 / unit) << "scale " << c.scale << " left " << left;
    }
}

TEST(PlanetDrawer, TitleStaysInsideItsArea)
{
    QStringList words;
    for (int i = 0; i < 40; ++i)
        words << QStringLiteral("word%1").arg(i % 7);
    for (bool withIcon : {false, true}) {
        PlanetDrawer drawer(0);
        drawer.setText(words.join(QLatin1Char(' ')));
        drawer.setFontSize(11);
        drawer.setTextColor(PlatformColor::deviceRGB(1, 0, 0));
        if (withIcon) {
            QImage icon(8, 8, QImage::Format_ARGB32_Premultiplied);
            icon.fill(Qt::green);
            drawer.setIconPicture(PlatformImage(icon));
        }
        const double unit = 4;
        const QImage image = test::drawPlanetBitmap(drawer, unit);
        const Point m = drawer.scaledCenter();
        const double t = std::lround(drawer.radius() * 0.95);
        const double top = m.y - (withIcon ? 0.475 : 0.70) * t;
        const double bottom = m.y + 0.55 * t;
        int inked = 0;
        int outside = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (!isRedInk(image.pixel(x, y)))
                    continue;
                ++inked;
                const double px = (x + 0.5) / unit;
                const double py = (y + 0.5) / unit;
                const bool inside =
                    py >= top - 1 && py <= bottom + 1 && std::hypot(px - m.x, py - m.y) <= t + 1;
                if (!inside)
                    ++outside;
            }
        EXPECT_GT(inked, 200) << withIcon;
        EXPECT_EQ(outside, 0) << withIcon;
    }
}

TEST(PlanetDrawer, EmptyTitleDrawsNothing)
{
    PlanetDrawer none(0);
    PlanetDrawer empty(0);
    for (PlanetDrawer* d : {&none, &empty})
        d->setBaseColor(test::planetTestColor());
    empty.setText(QStringLiteral(""));
    EXPECT_EQ(test::drawPlanetBitmap(none, 2), test::drawPlanetBitmap(empty, 2));
}

TEST(PlanetDrawer, NoteNumbersPrintInFull)
{
    struct Case
    {
        qint64 number;
        const char* text;
    };
    for (const Case& c : {Case{7, "007"}, Case{1234, "1234"}, Case{(qint64(1) << 31) + 5, "2147483653"},
                          Case{(qint64(1) << 40), "1099511627776"}}) {
        PlanetDrawer drawer(0);
        drawer.setNoteNumber(c.number);
        EXPECT_EQ(drawer.newAttributedNoteNumberString().string(), QString::fromLatin1(c.text));
    }
    // A negative number draws the note mark, whichever it is.
    PlanetDrawer a(0);
    PlanetDrawer b(0);
    a.setNoteNumber(-1);
    b.setNoteNumber(-77);
    EXPECT_EQ(test::drawPlanetBitmap(a, 2), test::drawPlanetBitmap(b, 2));
    PlanetDrawer number(0);
    number.setNoteNumber(7);
    EXPECT_NE(test::drawPlanetBitmap(a, 2), test::drawPlanetBitmap(number, 2));
}

// Draws the planet into a bitmap with a margin of `margin` units around its square and
// answers whether any pixel outside the square is inked.
bool inksOutsideItsSquare(PlanetDrawer& drawer, double margin)
{
    const Size size = drawer.scaledSize();
    auto context = GraphicsContext::createBitmap(size.width + 2 * margin, size.height + 2 * margin);
    context->translateCTM(margin, context->bitmapHeight() - margin);
    context->scaleCTM(1, -1);
    drawer.drawInCurrentContext(*context);
    const QImage image = context->makeImage();
    const QRectF square(margin, margin, size.width, size.height);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0 && !square.contains(QPointF(x + 0.5, y + 0.5)))
                return true;
    return false;
}

TEST(PlanetDrawer, BadTitlesStayInsideThePlanet)
{
    const QString longTitle = QString(10000, QLatin1Char('w'));
    QString spaced;
    for (int i = 0; i < 2000; ++i)
        spaced += QStringLiteral("word ");
    const QString titles[] = {
        longTitle,
        spaced,
        QStringLiteral(""),
        QStringLiteral("\n\n\n\n"),
        QStringLiteral("\r\n\u2028\u2029"),
        QString::fromUtf8("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D "
                          "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85"),
        QString::fromUtf8("\xF0\x9F\x9A\x80\xF0\x9F\x8C\x8D\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2"
                          "\x80\x8D\xF0\x9F\x91\xA7"),
    };
    for (quint64 type = 0; type <= 6; ++type)
        for (const QString& title : titles) {
            PlanetDrawer drawer(type);
            drawer.setText(title);
            drawer.setTextColor(PlatformColor::deviceRGB(1, 0, 0));
            drawer.setNoteNumber(std::numeric_limits<qint64>::max());
            EXPECT_FALSE(inksOutsideItsSquare(drawer, 40)) << "type " << type << " title of " << title.size();
        }
}

TEST(PlanetDrawer, OddPicturesStayInsideThePlanet)
{
    const QSize sizes[] = {QSize(1, 1), QSize(8000, 10), QSize(10, 8000)};
    for (const QSize& size : sizes) {
        QImage picture(size, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::magenta);
        for (quint64 type : {0, 3, 6}) {
            PlanetDrawer drawer(type);
            drawer.setImage(QVImage(picture));
            drawer.setShowWebLink(true);
            drawer.setShowOrbit(true);
            EXPECT_FALSE(inksOutsideItsSquare(drawer, 20)) << size.width() << "x" << size.height();
            // The picture fills the disc: its centre shows it.
            const QImage image = test::drawPlanetBitmap(drawer, 1);
            const Point m = drawer.scaledCenter();
            const QRgb centre = image.pixel(int(m.x), int(m.y) + 2);
            EXPECT_GT(qRed(centre), 150) << size.width() << "x" << size.height();
            EXPECT_GT(qBlue(centre), 150) << size.width() << "x" << size.height();
        }
    }
}

TEST(PlanetDrawer, ColourAndPictureReplaceEachOther)
{
    PlanetDrawer drawer(0);
    const QVImage picture(test::planetDataImage(QStringLiteral("picture")));
    drawer.setBaseColor(test::planetTestColor());
    drawer.setImage(picture);
    EXPECT_EQ(drawer.baseColor(), nullptr);
    EXPECT_FALSE(drawer.image().cgImage().isNull());
    drawer.setFontSize(30);
    drawer.setBaseColor(test::planetTestColor());
    EXPECT_TRUE(drawer.image().cgImage().isNull());
    // Setting a colour runs updateAppearance: the font size comes back from the settings.
    EXPECT_EQ(drawer.fontSize(), PlanetDrawer::fontSizeForPlanetType(0));
    // A null picture keeps the colour.
    drawer.setImage(QVImage());
    EXPECT_NE(drawer.baseColor(), nullptr);
}

TEST(PlanetDrawer, HighContrastDarkensTitlesOnBrightColours)
{
    const auto bright = Color::withHSV(QStringLiteral("bright"), 50, 0.5f, 1.0f, 1.0f, true, nullptr);
    ASSERT_TRUE(bright->isBright());
    PlanetDrawer drawer(0);
    drawer.setBaseColor(bright);
    EXPECT_EQ(drawer.textColor().toQColor(), QColor(Qt::white));
    Globals::setHighContrastText(true);
    drawer.updateAppearance();
    const QColor grey = drawer.textColor().toQColor();
    EXPECT_NEAR(grey.redF(), 0.33, 0.01);
    EXPECT_EQ(grey.red(), grey.blue());
    drawer.setBaseColor(test::planetTestColor());
    EXPECT_EQ(drawer.textColor().toQColor(), QColor(Qt::white));
    Globals::setHighContrastText(false);
}

TEST(PlanetDrawer, WorkerThreadDrawsTheSameBytes)
{
    for (quint64 type = 0; type <= 6; ++type)
        for (bool picture : {false, true}) {
            auto mainDrawer = busyPlanet(type, picture);
            const QImage onMain = test::drawPlanetBitmap(*mainDrawer, 2);
            QImage onWorker;
            std::thread worker([&] {
                auto drawer = busyPlanet(type, picture);
                onWorker = test::drawPlanetBitmap(*drawer, 2);
            });
            worker.join();
            ASSERT_FALSE(onMain.isNull());
            EXPECT_EQ(onMain, onWorker) << "type " << type << (picture ? " picture" : "");
        }
}

} // namespace
} // namespace corvex
