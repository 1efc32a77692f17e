#include "model/StringExtensions.h"
#include "model/CollectionExtensions.h"
#include "model/StringAdditions.h"

#include <QList>
#include <QLocale>
#include <QSet>
#include <gtest/gtest.h>
#include <set>
#include <vector>

using namespace corvex;

// ---- File names

TEST(StringExtensions, AFileNameOfOnlyBlanksAndEmojiIsEmpty)
{
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(
                  QStringLiteral("  \U0001F600 \U0001F680\t\n\u2603 "), 10),
              QStringLiteral(""));
}

TEST(StringExtensions, AFileNameDropsColonsSlashesAndBlanksButKeepsOtherPunctuation)
{
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("a: b/c"), 10),
              QStringLiteral("abc"));
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("v1.2, draft-3?"), 20),
              QStringLiteral("v1.2,draft-3?"));
    // Symbols of every kind go: maths, currency, modifiers, others.
    EXPECT_EQ(
        StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("a+b=c $5 \u20AC ^ \u00A9 x"), 20),
        QStringLiteral("abc5x"));
    // Unassigned code points, non-characters, control characters and lone surrogates go too.
    const QString odd = QStringLiteral("a") + QChar(0x0378) + QChar(0xFDD0) + QChar(0x0001) + QChar(0x0000) +
                        QChar(0xD800) + QStringLiteral("b");
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(odd, 10), QStringLiteral("ab"));
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("caf\u00e9 \u00fcber"), 10),
              QStringLiteral("caf\u00e9\u00fcber"));
}

TEST(StringExtensions, AFileNameIsCutToTheMaximumWithoutSplittingASurrogatePair)
{
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("abcdefghijklmn"), 10),
              QStringLiteral("abcdefghij"));
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("abc"), 10),
              QStringLiteral("abc"));
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("abc"), 0),
              QStringLiteral(""));
    // U+1D400 (a letter outside the basic plane) straddling the cut.
    const QString letters = QStringLiteral("abcdefghi\U0001D400z");
    const QString cut = StringExtensions::createProperFileNameWithMaxLenght(letters, 10);
    EXPECT_EQ(cut, QStringLiteral("abcdefghi"));
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(letters, 11),
              QStringLiteral("abcdefghi\U0001D400"));
    EXPECT_EQ(StringExtensions::createProperFileNameWithMaxLenght(QStringLiteral("\U0001D400\U0001D401"), 1),
              QStringLiteral(""));
}

// ---- Paths

TEST(StringExtensions, ConcatPathJoinsWithOneSeparator)
{
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral("/a/b"), QStringLiteral("c.txt")),
              QStringLiteral("/a/b/c.txt"));
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral("/a/b/"), QStringLiteral("/c")),
              QStringLiteral("/a/b/c"));
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral("a//b"), QStringLiteral("c/")),
              QStringLiteral("a/b/c"));
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral("/"), QStringLiteral("c")), QStringLiteral("/c"));
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral(""), QStringLiteral("c")), QStringLiteral("c"));
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral("a/"), QStringLiteral("")), QStringLiteral("a"));
    EXPECT_EQ(StringExtensions::concatPath(QStringLiteral("/"), QStringLiteral("")), QStringLiteral("/"));
}

// ---- Comparisons

TEST(StringExtensions, AreEqualTellsNullFromEmpty)
{
    EXPECT_TRUE(StringExtensions::areEqual(QString(), QString()));
    EXPECT_FALSE(StringExtensions::areEqual(QString(), QStringLiteral("a")));
    EXPECT_FALSE(StringExtensions::areEqual(QStringLiteral("a"), QString()));
    EXPECT_FALSE(StringExtensions::areEqual(QString(), QStringLiteral("")));
    EXPECT_TRUE(StringExtensions::areEqual(QStringLiteral(""), QStringLiteral("")));
    EXPECT_TRUE(StringExtensions::areEqual(QStringLiteral("abc"), QString::fromLatin1("abc")));
    EXPECT_FALSE(StringExtensions::areEqual(QStringLiteral("abc"), QStringLiteral("ABC")));
}

TEST(StringExtensions, EndsWithMatchesTheLastCharactersAndAnEmptySuffix)
{
    EXPECT_TRUE(StringExtensions::endsWith(QStringLiteral("file.crvx"), QStringLiteral(".crvx")));
    EXPECT_FALSE(StringExtensions::endsWith(QStringLiteral("file.crvx"), QStringLiteral(".CRVX")));
    EXPECT_FALSE(StringExtensions::endsWith(QStringLiteral("vx"), QStringLiteral(".crvx")));
    EXPECT_TRUE(StringExtensions::endsWith(QStringLiteral("abc"), QStringLiteral("")));
    EXPECT_TRUE(StringExtensions::endsWith(QStringLiteral(""), QStringLiteral("")));
}

TEST(StringExtensions, ContainsNeverFindsTheEmptyString)
{
    EXPECT_TRUE(StringExtensions::containsStringBackport(QStringLiteral("mind map"), QStringLiteral("d m")));
    EXPECT_FALSE(StringExtensions::containsStringBackport(QStringLiteral("mind map"), QStringLiteral("Map")));
    EXPECT_FALSE(StringExtensions::containsStringBackport(QStringLiteral("mind map"), QStringLiteral("")));
    EXPECT_FALSE(StringExtensions::containsStringBackport(QStringLiteral(""), QStringLiteral("")));
}

TEST(StringExtensions, LocalUppercaseFollowsTheCurrentLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English));
    EXPECT_EQ(StringExtensions::localUppercaseString(QStringLiteral("stra\u00dfe")),
              QLocale::system().toUpper(QStringLiteral("stra\u00dfe")));
    EXPECT_EQ(StringExtensions::localUppercaseString(QStringLiteral("idea")), QStringLiteral("IDEA"));
    QLocale::setDefault(saved);
}

// ---- URL and XML text

TEST(StringExtensions, UrlencodeKeepsUnreservedCharactersAndEscapesEveryOtherByte)
{
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("a b")), QStringLiteral("a+b"));
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("&")), QStringLiteral("%26"));
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("\u00e9")), QStringLiteral("%C3%A9"));
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("AZaz09-._~")), QStringLiteral("AZaz09-._~"));
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("a/b?c=d+e")), QStringLiteral("a%2Fb%3Fc%3Dd%2Be"));
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("\U0001F600")), QStringLiteral("%F0%9F%98%80"));
    EXPECT_EQ(StringExtensions::urlencode(QStringLiteral("")), QStringLiteral(""));
}

TEST(StringExtensions, XmlEscapingEscapesEachAmpersandOnce)
{
    EXPECT_EQ(StringExtensions::xmlSimpleEscapeString(QStringLiteral("a < b & c > d")),
              QStringLiteral("a &lt; b &amp; c &gt; d"));
    EXPECT_EQ(StringExtensions::xmlSimpleEscapeString(QStringLiteral("\"q\" 'a'")),
              QStringLiteral("&quot;q&quot; &#x27;a&#x27;"));
    EXPECT_EQ(StringExtensions::xmlSimpleEscapeString(QStringLiteral("&amp;")), QStringLiteral("&amp;amp;"));
    QString inPlace = QStringLiteral("<&>");
    StringExtensions::xmlSimpleEscape(inPlace);
    EXPECT_EQ(inPlace, QStringLiteral("&lt;&amp;&gt;"));
}

// ---- Collections

TEST(CollectionExtensions, IsEmptyForListsAndSets)
{
    EXPECT_TRUE(CollectionExtensions::isEmpty(std::vector<int>{}));
    EXPECT_FALSE(CollectionExtensions::isEmpty(std::vector<int>{1}));
    EXPECT_TRUE(CollectionExtensions::isEmpty(std::set<QString>{}));
    EXPECT_FALSE(CollectionExtensions::isEmpty(QSet<int>{3}));
    EXPECT_TRUE(CollectionExtensions::isEmpty(QList<int>{}));
}

// ---- Class-name helpers

TEST(StringAdditions, OnlyTheFirstCharacterChangesCase)
{
    EXPECT_EQ(StringAdditions::camelcaseString(QStringLiteral("Idea")), QStringLiteral("idea"));
    EXPECT_EQ(StringAdditions::camelcaseString(QStringLiteral("IdeaDocumentDataObject")),
              QStringLiteral("ideaDocumentDataObject"));
    EXPECT_EQ(StringAdditions::camelcaseString(QStringLiteral("A")), QStringLiteral("a"));
    EXPECT_EQ(StringAdditions::camelcaseString(QStringLiteral("URL")), QStringLiteral("uRL"));
    EXPECT_EQ(StringAdditions::capitalizeFirstLetterString(QStringLiteral("idea")), QStringLiteral("Idea"));
    EXPECT_EQ(StringAdditions::capitalizeFirstLetterString(QStringLiteral("jSON")), QStringLiteral("JSON"));
    EXPECT_EQ(StringAdditions::capitalizeFirstLetterString(QStringLiteral("iconImage")),
              QStringLiteral("IconImage"));
    EXPECT_EQ(StringAdditions::capitalizeFirstLetterString(QStringLiteral("1abc")), QStringLiteral("1abc"));
}

TEST(StringAdditions, TheEmptyStringStaysEmpty)
{
    EXPECT_EQ(StringAdditions::camelcaseString(QStringLiteral("")), QStringLiteral(""));
    EXPECT_EQ(StringAdditions::capitalizeFirstLetterString(QStringLiteral("")), QStringLiteral(""));
    EXPECT_TRUE(StringAdditions::camelcaseString(QString()).isEmpty());
    EXPECT_TRUE(StringAdditions::capitalizeFirstLetterString(QString()).isEmpty());
}

TEST(StringAdditions, ACharacterOutsideTheBasicPlaneIsLeftAlone)
{
    // Only the first UTF-16 unit is looked at; half a pair has no case.
    const QString deseret = QStringLiteral("\U00010400x");
    EXPECT_EQ(StringAdditions::camelcaseString(deseret), deseret);
    EXPECT_EQ(StringAdditions::capitalizeFirstLetterString(QStringLiteral("\U00010428x")),
              QStringLiteral("\U00010428x"));
}
