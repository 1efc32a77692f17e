#include "platform/gfx/PlatformFont.h"
#include "platform/core/Log.h"
#include "platform/gfx/AttributedString.h"
#include "tests/support/LogCapture.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace corvex;
using corvex::test::LogCapture;

namespace {

// "Nimbus Sans [urw]" -> "Nimbus Sans": fontconfig reports the foundry where several exist.
QString familyOf(const QFont& font)
{
    QString family = QFontInfo(font).family();
    const int bracket = family.indexOf(QStringLiteral(" ["));
    return bracket > 0 ? family.left(bracket) : family;
}

QString styleOf(const QFont& font)
{
    return QFontInfo(font).styleName();
}

struct Expected
{
    const char* face;
    const char* family;
    const char* style;
};

// The face table of the design decisions, row by row, with the spellings the code uses.
const Expected kTable[] = {
    {"Avenir Book", "Lato", "Regular"},
    {"Avenir Roman", "Lato", "Regular"},
    {"Avenir Light", "Lato", "Light"},
    {"Avenir Medium", "Lato", "Medium"},
    {"Avenir Heavy", "Lato", "Heavy"},
    {"Avenir Black", "Lato", "Heavy"},
    {"Avenir Oblique", "Lato", "Italic"},
    {"Avenir Book Oblique", "Lato", "Italic"},
    {"Avenir Light Oblique", "Lato", "Light Italic"},
    {"Avenir Medium Oblique", "Lato", "Medium Italic"},
    {"Avenir Heavy Oblique", "Lato", "Heavy Italic"},
    {"Avenir Black Oblique", "Lato", "Heavy Italic"},
    {"Helvetica", "Nimbus Sans", "Regular"},
    {"Helvetica-Bold", "Nimbus Sans", "Bold"},
    {"Helvetica Bold", "Nimbus Sans", "Bold"},
    {"Apple Color Emoji", "Noto Color Emoji", "Regular"},
};

// The log with levels, for the cases where the level matters.
class LevelCapture
{
public:
    LevelCapture()
    {
        mPrevious = Log::setSink([this](LogLevel level, const QString& message) {
            std::lock_guard lock(mMutex);
            mEntries.emplace_back(level, message);
        });
    }
    ~LevelCapture() { Log::setSink(mPrevious); }
    std::vector<std::pair<LogLevel, QString>> entries() const
    {
        std::lock_guard lock(mMutex);
        return mEntries;
    }

private:
    mutable std::mutex mMutex;
    std::vector<std::pair<LogLevel, QString>> mEntries;
    Log::Sink mPrevious;
};

double textWidth(const PlatformFont& font, const QString& text)
{
    return QFontMetricsF(font.qfont(), PlatformFont::pointDevice()).horizontalAdvance(text);
}

} // namespace

TEST(PlatformFontTable, EveryFaceOfTheTableResolvesToItsStandIn)
{
    LogCapture log;
    for (const Expected& row : kTable) {
        const QString face = QString::fromLatin1(row.face);
        const PlatformFont font = PlatformFont::fontWithName(face, 14);
        EXPECT_FALSE(font.isFallback()) << row.face;
        EXPECT_TRUE(PlatformFont::isFaceAvailable(face)) << row.face;
        EXPECT_EQ(font.faceName(), face);
        EXPECT_EQ(font.pointSize(), 14.0) << row.face;
        EXPECT_EQ(familyOf(font.qfont()), QString::fromLatin1(row.family)) << row.face;
        EXPECT_EQ(styleOf(font.qfont()), QString::fromLatin1(row.style)) << row.face;
    }
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(PlatformFontTable, PostScriptAndLowerCaseSpellingsAreTheSameFace)
{
    const struct
    {
        const char* spelling;
        const char* style;
    } spellings[] = {{"Avenir-Heavy", "Heavy"},
                     {"Avenir-BookOblique", "Italic"},
                     {"avenir medium", "Medium"},
                     {"AVENIR LIGHT OBLIQUE", "Light Italic"},
                     {"Avenir-BlackOblique", "Heavy Italic"}};
    for (const auto& s : spellings) {
        const PlatformFont font = PlatformFont::fontWithName(QString::fromLatin1(s.spelling), 12);
        EXPECT_FALSE(font.isFallback()) << s.spelling;
        EXPECT_EQ(familyOf(font.qfont()), QStringLiteral("Lato")) << s.spelling;
        EXPECT_EQ(styleOf(font.qfont()), QString::fromLatin1(s.style)) << s.spelling;
    }
    EXPECT_EQ(PlatformFont::fontWithName(QStringLiteral("Avenir-Heavy"), 12),
              PlatformFont::fontWithName(QStringLiteral("avenir heavy"), 12));
    EXPECT_FALSE(PlatformFont::fontWithName(QStringLiteral("Avenir Heavy"), 12) ==
                 PlatformFont::fontWithName(QStringLiteral("Avenir Heavy"), 13));
}

TEST(PlatformFontTable, StandInWeightsReallyDiffer)
{
    // The style names could match while one file stands in for all: the advances tell.
    const QString text = QStringLiteral("Mind maps of many ideas");
    const double light = textWidth(PlatformFont::fontWithName(QStringLiteral("Avenir Light"), 20), text);
    const double book = textWidth(PlatformFont::fontWithName(QStringLiteral("Avenir Book"), 20), text);
    const double heavy = textWidth(PlatformFont::fontWithName(QStringLiteral("Avenir Heavy"), 20), text);
    EXPECT_LT(light, book);
    EXPECT_LT(book, heavy);
    const double regular = textWidth(PlatformFont::systemFont(20), text);
    const double bold = textWidth(PlatformFont::boldSystemFont(20), text);
    EXPECT_LT(regular, bold);
}

TEST(PlatformFontTable, InstalledFacesOutsideTheTableResolveByFamilyAndStyle)
{
    const PlatformFont semibold = PlatformFont::fontWithName(QStringLiteral("Lato Semibold"), 12);
    EXPECT_FALSE(semibold.isFallback());
    EXPECT_EQ(familyOf(semibold.qfont()), QStringLiteral("Lato"));
    EXPECT_EQ(styleOf(semibold.qfont()), QStringLiteral("Semibold"));
    const PlatformFont thin = PlatformFont::fontWithName(QStringLiteral("Lato-ThinItalic"), 12);
    EXPECT_FALSE(thin.isFallback());
    EXPECT_EQ(styleOf(thin.qfont()), QStringLiteral("Thin Italic"));
    const PlatformFont family = PlatformFont::fontWithName(QStringLiteral("Lato"), 12);
    EXPECT_FALSE(family.isFallback());
    EXPECT_EQ(styleOf(family.qfont()), QStringLiteral("Regular"));
}

TEST(PlatformFontMissing, AnUnknownFaceLogsOnceAndAnswersTheHelveticaStandIn)
{
    LogCapture log;
    const QString face = QStringLiteral("Optima ExtraBlack Unknown");
    EXPECT_FALSE(PlatformFont::isFaceAvailable(face));
    EXPECT_EQ(log.lines().size(), 0) << "asking whether a face exists must not log";

    for (double size : {10.0, 12.0, 12.0, 30.0}) {
        const PlatformFont font = PlatformFont::fontWithName(face, size);
        EXPECT_TRUE(font.isFallback());
        EXPECT_EQ(font.faceName(), face);
        EXPECT_EQ(font.pointSize(), size);
        EXPECT_EQ(familyOf(font.qfont()), QStringLiteral("Nimbus Sans"));
        EXPECT_EQ(styleOf(font.qfont()), QStringLiteral("Regular"));
    }
    // Another spelling of the same face is the same missing face.
    (void)PlatformFont::fontWithName(QStringLiteral("optima-extra-black-unknown"), 12);
    EXPECT_EQ(log.count(QStringLiteral("Optima ExtraBlack Unknown")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log.lines().size(), 1) << log.lines().join(QLatin1Char('\n')).toStdString();
    // A second missing face gets its own line.
    (void)PlatformFont::fontWithName(QStringLiteral("Futura Missing"), 12);
    EXPECT_EQ(log.lines().size(), 2);
}

TEST(PlatformFontMissing, TheMissingFaceLineIsAnError)
{
    LevelCapture log;
    (void)PlatformFont::fontWithName(QStringLiteral("Frutiger Absent"), 12);
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, LogLevel::Error);
    EXPECT_TRUE(entries[0].second.contains(QStringLiteral("Frutiger Absent")))
        << entries[0].second.toStdString();
}

TEST(PlatformFontMissing, ConcurrentFirstRequestsResolveOnceAndLogOnce)
{
    LogCapture log;
    const QString face = QStringLiteral("Gill Sans Nowhere");
    constexpr int kThreads = 8;
    std::atomic<int> fallbacks{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            while (!go.load())
                std::this_thread::yield();
            for (int n = 0; n < 20; ++n) {
                if (PlatformFont::fontWithName(face, 10 + n).isFallback())
                    fallbacks.fetch_add(1);
                (void)PlatformFont::fontWithName(QStringLiteral("Avenir Medium"), 10 + n);
            }
        });
    }
    go.store(true);
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(fallbacks.load(), kThreads * 20);
    EXPECT_EQ(log.count(face), 1) << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log.lines().size(), 1);
}

TEST(PlatformFontMetrics, OnePointIsOneUserSpaceUnit)
{
    // Lato's capitals are about 0.72 em high: at 100 points the cap height is near 72 units
    // whatever the screen's resolution (96 dpi would make it 96).
    const PlatformFont lato = PlatformFont::fontWithName(QStringLiteral("Avenir Book"), 100);
    EXPECT_GT(lato.capHeight(), 65.0);
    EXPECT_LT(lato.capHeight(), 78.0);
    EXPECT_GT(lato.xHeight(), 40.0);
    EXPECT_LT(lato.xHeight(), lato.capHeight());
    EXPECT_GT(lato.ascender(), lato.capHeight());
    EXPECT_LT(lato.descender(), 0.0);
    EXPECT_GE(lato.leading(), 0.0);
    EXPECT_NEAR(lato.lineHeight(), lato.ascender() - lato.descender() + lato.leading(), 1e-9);
}

TEST(PlatformFontMetrics, MetricsScaleWithThePointSize)
{
    const PlatformFont small = PlatformFont::fontWithName(QStringLiteral("Helvetica"), 10);
    const PlatformFont large = small.withSize(40);
    EXPECT_EQ(large.pointSize(), 40.0);
    EXPECT_EQ(large.faceName(), small.faceName());
    // Nimbus Sans's vertical metrics come rounded to whole points (layout uses the same).
    EXPECT_NEAR(large.ascender(), 4 * small.ascender(), 4 * 0.5 + 0.5);
    EXPECT_NEAR(large.descender(), 4 * small.descender(), 4 * 0.5 + 0.5);
    const QString text = QStringLiteral("Corvex");
    EXPECT_NEAR(textWidth(large, text), 4 * textWidth(small, text), 0.02 * textWidth(large, text));
}

TEST(PlatformFontMetrics, UnusableSizesReadAsTwelvePoints)
{
    EXPECT_EQ(PlatformFont::fontWithName(QStringLiteral("Avenir Book"), 0).pointSize(), 12.0);
    EXPECT_EQ(PlatformFont::fontWithName(QStringLiteral("Avenir Book"), -3).pointSize(), 12.0);
    EXPECT_EQ(PlatformFont::fontWithName(QStringLiteral("Avenir Book"), std::nan("")).pointSize(), 12.0);
    EXPECT_EQ(PlatformFont().pointSize(), 12.0);
    EXPECT_EQ(PlatformFont().faceName(), QStringLiteral("Helvetica"));
}

TEST(PlatformFontSystem, SystemFontsAreTheHelveticaStandIns)
{
    const PlatformFont regular = PlatformFont::systemFont(13);
    const PlatformFont bold = PlatformFont::boldSystemFont(13);
    EXPECT_FALSE(regular.isFallback());
    EXPECT_FALSE(bold.isFallback());
    EXPECT_EQ(familyOf(regular.qfont()), QStringLiteral("Nimbus Sans"));
    EXPECT_EQ(styleOf(regular.qfont()), QStringLiteral("Regular"));
    EXPECT_EQ(familyOf(bold.qfont()), QStringLiteral("Nimbus Sans"));
    EXPECT_EQ(styleOf(bold.qfont()), QStringLiteral("Bold"));
    EXPECT_EQ(regular.pointSize(), 13.0);
}

TEST(PlatformFontEmoji, EmojiMeasureWithTheEmojiFont)
{
    const PlatformFont emoji = PlatformFont::fontWithName(QStringLiteral("Apple Color Emoji"), 24);
    ASSERT_FALSE(emoji.isFallback());
    EXPECT_EQ(familyOf(emoji.qfont()), QStringLiteral("Noto Color Emoji"));
    const AttributedString text(QStringLiteral("\U0001F600\U0001F680"), emoji, PlatformColor::black());
    const Size size = text.size();
    // Two emoji of about one em each.
    EXPECT_GT(size.width, 24.0);
    EXPECT_LT(size.width, 80.0);
    EXPECT_GT(size.height, 20.0);
}

// Titles in Chinese, Japanese, Korean, Arabic and Hebrew, set in the planets' and the note
// pages' faces: every glyph comes from the script faces, and none is the missing glyph
// (index 0), shaped or not.
TEST(PlatformFontScripts, EveryScriptIsSetWithTheScriptFacesAndNoMissingGlyph)
{
    struct Sample
    {
        const char* text;
        const char* face;
    };
    const Sample samples[] = {
        {"中文标题：这是一个中文笔记，人人都看得懂大字。", "WenQuanYi Micro Hei"},
        {"日本語のタイトル、これは日本語のメモです。カタカナ", "WenQuanYi Micro Hei"},
        {"한국어 제목, 한국어 메모입니다", "WenQuanYi Micro Hei"},
        {"عنوان عربي مرحبا بالعالم", "Noto Sans Arabic"},
        {"כותרת עברית בְּרֵאשִׁית בָּרָא", "Noto Sans Hebrew"},
    };
    EXPECT_EQ(PlatformFont::scriptFaces().mid(0, 3),
              (QStringList{QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans Arabic"),
                           QStringLiteral("Noto Sans Hebrew")}));
    for (const char* face : {"Helvetica", "Avenir Medium", "HelveticaNeue-Medium"}) {
        const PlatformFont font = PlatformFont::fontWithName(QString::fromLatin1(face), 14);
        for (const Sample& sample : samples) {
            SCOPED_TRACE(std::string(face) + ": " + sample.text);
            const QString text = QString::fromUtf8(sample.text);
            const AttributedString string(text, font, PlatformColor::black());
            std::unique_ptr<QTextLayout> layout = string.createTextLayout(0, string.length());
            layout->beginLayout();
            layout->createLine().setLineWidth(100000);
            layout->endLayout();
            QStringList families;
            for (const QGlyphRun& run : layout->glyphRuns()) {
                const QString family = run.rawFont().familyName();
                families.append(family);
                for (const quint32 glyph : run.glyphIndexes())
                    EXPECT_NE(glyph, 0u) << family.toStdString();
            }
            // Spaces and punctuation may come from the text's own face.
            EXPECT_TRUE(families.contains(QString::fromLatin1(sample.face)))
                << families.join(u',').toStdString();
            for (const QString& family : families) {
                EXPECT_TRUE(family == QString::fromLatin1(sample.face) || family == font.familyName())
                    << family.toStdString();
            }
            // The face itself holds every character.
            const QRawFont raw = QRawFont::fromFont(QFont(QString::fromLatin1(sample.face)));
            ASSERT_TRUE(raw.isValid());
            for (const QChar c : text) {
                if (!c.isSpace() && !c.isPunct() && c.category() != QChar::Mark_NonSpacing) {
                    EXPECT_TRUE(raw.supportsCharacter(c)) << QString(c).toStdString();
                }
            }
        }
    }
}
