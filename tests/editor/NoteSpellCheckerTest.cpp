// Spell checking of the note: misspelt words underlined against the installed dictionary,
// and nothing underlined (one log line) without one; the note's emoji in colour and whole.

#include "editor/NoteSpellChecker.h"
#include "platform/gfx/PlatformFont.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// The underlined ranges of the document's first block, as the words they cover.
QStringList underlined(const QTextDocument& document)
{
    QStringList words;
    const QTextBlock block = document.firstBlock();
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
        if (range.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline)
            words << block.text().mid(range.start, range.length);
    }
    return words;
}

TEST(NoteSpellChecker, UnderlinesMisspeltWords)
{
    ASSERT_TRUE(NoteSpellChecker::hasDictionary());
    QTextDocument document;
    document.setPlainText(QStringLiteral("This sentense is rihgt except two words, isn't it"));
    auto* checker = new NoteSpellChecker(&document);
    checker->checkTextInDocument();
    EXPECT_EQ(underlined(document), (QStringList{"sentense", "rihgt"}));
}

TEST(NoteSpellChecker, WithoutADictionaryNothingIsUnderlinedAndOneLineIsLogged)
{
    qputenv("CORVEX_HUNSPELL_DIR", QFile::encodeName(testDir() + QStringLiteral("/no-dictionaries")));
    LogCapture log;
    QTextDocument document;
    document.setPlainText(QStringLiteral("Thsi is wrnog"));
    auto* checker = new NoteSpellChecker(&document);
    checker->checkTextInDocument();
    checker->checkTextInDocument();
    EXPECT_TRUE(underlined(document).isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("no hunspell dictionary")), 1);
    qunsetenv("CORVEX_HUNSPELL_DIR");
}

// Each emoji of a note is one glyph of the colour face, with a dictionary as without one: the
// camping tent, a joined sequence, a keycap, a flag, a skin tone.
TEST(NoteSpellChecker, EmojiAreOneGlyphOfTheColourFace)
{
    const QStringList emoji = {QStringLiteral("\U0001F3D5"), QStringLiteral("\U0001F469\u200D\U0001F4BB"),
                               QStringLiteral("1\uFE0F\u20E3"), QStringLiteral("\U0001F1EB\U0001F1F7"),
                               QStringLiteral("\U0001F44D\U0001F3FD")};
    for (const bool dictionary : {true, false}) {
        SCOPED_TRACE(dictionary ? "with a dictionary" : "without");
        if (!dictionary)
            qputenv("CORVEX_HUNSPELL_DIR", QFile::encodeName(testDir() + QStringLiteral("/no-dictionaries")));
        QTextDocument document;
        document.setDefaultFont(PlatformFont::fontWithName(QStringLiteral("Helvetica"), 14).qfont());
        document.setPlainText(QStringLiteral("Camping ") + emoji.join(QLatin1Char(' ')));
        (new NoteSpellChecker(&document))->checkTextInDocument();
        document.setTextWidth(600);
        QImage shown(600, 40, QImage::Format_RGB32);
        shown.fill(Qt::white);
        {
            QPainter painter(&shown);
            document.drawContents(&painter);
        }
        shown.save(testOutputDir() + QStringLiteral("/note_emoji.png"));
        const QTextLayout& layout = *document.firstBlock().layout();
        qsizetype at = 8;
        for (const QString& one : emoji) {
            SCOPED_TRACE(one.toStdString());
            qsizetype glyphs = 0;
            for (const QGlyphRun& run : layout.glyphRuns(int(at), int(one.size()))) {
                EXPECT_EQ(run.rawFont().familyName(), QStringLiteral("Noto Color Emoji"));
                glyphs += run.glyphIndexes().size();
            }
            EXPECT_EQ(glyphs, 1);
            at += one.size() + 1;
        }
        qunsetenv("CORVEX_HUNSPELL_DIR");
    }
}

} // namespace
} // namespace corvex::test
