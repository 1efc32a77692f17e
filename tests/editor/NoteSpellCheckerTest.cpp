// Spell checking of the note: misspelt words underlined against the installed dictionary,
// and nothing underlined (one log line) without one.

#include "editor/NoteSpellChecker.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
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

} // namespace
} // namespace corvex::test
