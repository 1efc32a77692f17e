#include "storage/PayloadTextScanner.h"
#include "storage/SearchCache.h"
#include "storage/SearchReadQueue.h"
#include "storage/SearchTextReader.h"

#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

// The scanner's two roads, each tested whichever this processor would take.
constexpr PayloadTextScanner::Steps BothRoads[] = {PayloadTextScanner::Steps::Widest,
                                                   PayloadTextScanner::Steps::Sixteen};

// "<key>@<level>" of every entry, in order.
QStringList entries(const IdeaTextMap& map)
{
    QStringList lines;
    for (qsizetype i = 0; i < map.count(); ++i)
        lines.append(map.keyAt(i) + QLatin1Char('@') + QString::number(map.levelAt(i)));
    return lines;
}

// What search cached before it read texts straight: the map of the tree the payload
// readers make. Null when they make none.
std::optional<QStringList> treeEntries(const QByteArray& json)
{
    const auto payload = IdeaDocumentDataObject::decodeJSONData(json);
    if (!payload.ok())
        return std::nullopt;
    IdeaTextMap map;
    SearchCache::addIdeaTreeToMap(map, payload.value()->idea(), 0);
    return entries(map);
}

// The writer's text of a tree.
QByteArray written(const IdeaPtr& root)
{
    return IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime())->jsonData().value();
}

IdeaPtr rootWithTexts(const QStringList& texts)
{
    IdeaPtr root = Idea::initWithText(QStringLiteral("Root"));
    for (const QString& text : texts)
        EXPECT_TRUE(root->addIdea(Idea::initWithText(text)));
    return root;
}

// A text in the writer's shape, one idea with the given members after its type.
QByteArray oneIdea(const QByteArray& members, const QByteArray& type = "1")
{
    return R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"identifier":"a","ideaType":)" + type +
           members + R"(,"colorThemeType":0},"appInstance":"MAC_1"}})";
}

} // namespace

TEST(SearchTextReading, WhatTheWriterWritesIsScannedToTheStringsOfItsTree)
{
    for (quint32 seed = 1; seed <= 6; ++seed) {
        std::vector<test::FactoryIdea> ideas = test::makeDocumentTree(150, seed % 2 == 0 ? 3 : 8, seed);
        test::addPictures(ideas, 3, seed);
        // Texts a writer escapes or a lower-casing lengthens, and scripts beyond Latin-1.
        ideas[1].text = QStringLiteral("Say \"HI\"\\ \tnow\nÅÉÏ ÕÜ ×Þ ß");
        ideas[2].note = QStringLiteral("İstanbul Ⱥ KELVIN \u212A ΣΟΦΊΑ Ꙁ 𐐀 \U0001F680 \u00A0nbsp");
        ideas[3].text = QString();
        ideas[4].note = QStringLiteral("ends in a lead É");
        const auto payload = IdeaDocumentDataObject::readFromJSONData(test::makePayloadJson(ideas));
        ASSERT_NE(payload, nullptr);
        const QByteArray json = payload->jsonData().value();
        const std::optional<QStringList> expected = treeEntries(json);
        ASSERT_TRUE(expected.has_value());

        for (const PayloadTextScanner::Steps steps : BothRoads) {
            const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(json, steps);
            ASSERT_TRUE(scanned.has_value()) << "the writer's own shape, seed " << seed;
            EXPECT_EQ(entries(*scanned), *expected) << "seed " << seed;
        }
        for (const QByteArray& stored : {json, Zlib::compress(json).value()}) {
            const Result<IdeaTextMap> read = SearchTextReader::read(stored);
            ASSERT_TRUE(read.ok());
            EXPECT_EQ(entries(read.value()), *expected);
        }
    }
}

TEST(SearchTextReading, LowerCasingIsQStringsForEveryCharacterOfTheCasedPlanes)
{
    // Planes 0 and 1 hold every script with cases; a thousand characters to a text.
    QStringList texts;
    QString text;
    for (char32_t code = 1; code < 0x20000; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF)
            continue;
        text += QString::fromUcs4(&code, 1);
        if (text.size() >= 1000) {
            texts.append(text);
            text.clear();
        }
    }
    texts.append(text);
    const QByteArray json = written(rootWithTexts(texts));
    for (const PayloadTextScanner::Steps steps : BothRoads) {
        const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(json, steps);
        ASSERT_TRUE(scanned.has_value());
        ASSERT_EQ(scanned->count(), texts.size() + 1);
        for (qsizetype i = 0; i < texts.size(); ++i)
            ASSERT_EQ(scanned->keyAt(i + 1), texts[i].toLower()) << "text " << i;
    }
}

TEST(SearchTextReading, EscapesAndLoneSurrogatesReadAsThePayloadReadersReadThem)
{
    const QByteArray json = oneIdea(
        R"(,"text":"\u0041\u00C9\u0130x\uD83D\uDE80 \uD800 \uDC00\uD800\u0041 \"\\\/\b\f\n\r\t","note":"Ab\u212A","iconImage":{"symbol":"\uD83D\uDE00X"})");
    const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(json);
    ASSERT_TRUE(scanned.has_value());
    const std::optional<QStringList> expected = treeEntries(json);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(entries(*scanned), *expected);
    EXPECT_EQ(scanned->keyAt(0), QStringLiteral("aéi\u0307x\U0001F680 \uFFFD \uFFFD\uFFFDa \"\\/\b\f\n\r\t"));
    EXPECT_EQ(scanned->keyAt(2), QStringLiteral("\U0001F600x")) << "the icon's symbol, lower-cased";

    // Empty strings add nothing; an icon without a symbol neither.
    const std::optional<IdeaTextMap> empty =
        PayloadTextScanner::scan(oneIdea(R"(,"text":"","note":"","iconImage":{"name":"n","category":"c"})"));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->count(), 0);
}

TEST(SearchTextReading, LinksAndMembersNotKnownAreScannedToTheStringsOfTheirTree)
{
    // Links as the writer writes them: to ideas before and after them, deeper and shallower,
    // to a link, to nothing, to an idea with a note and an icon, and the first of two ideas
    // sharing an identifier.
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("r"));
    const IdeaPtr early = Idea::initWithLinkToIdea(QStringLiteral("late"));
    const IdeaPtr branch = Idea::initWithText(QStringLiteral("Branch"), QStringLiteral("b"));
    const IdeaPtr rich = Idea::initWithText(QStringLiteral("Rich TEXT"), QStringLiteral("rich"));
    rich->setNote(QStringLiteral("A NOTE"));
    rich->setIconImage(
        IconImage::initWithName(QStringLiteral("n"), QStringLiteral("c"), QStringLiteral("SYM")));
    const IdeaPtr toRich = Idea::initWithLinkToIdea(QStringLiteral("rich"));
    const IdeaPtr toLink = Idea::initWithLinkToIdea(toRich->identifier());
    EXPECT_TRUE(root->addIdea(early));
    EXPECT_TRUE(root->addIdea(branch));
    EXPECT_TRUE(branch->addIdea(rich));
    EXPECT_TRUE(branch->addIdea(Idea::initWithText(QStringLiteral("First twin"), QStringLiteral("twin"))));
    EXPECT_TRUE(root->addIdea(toRich));
    EXPECT_TRUE(rich->addIdea(toLink));
    EXPECT_TRUE(rich->addIdea(Idea::initWithLinkToIdea(QStringLiteral("r"))));
    EXPECT_TRUE(rich->addIdea(Idea::initWithLinkToIdea(QStringLiteral("twin"))));
    EXPECT_TRUE(root->addIdea(Idea::initWithLinkToIdea(QStringLiteral("nowhere"))));
    EXPECT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("Second twin"), QStringLiteral("twin"))));
    EXPECT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("Late"), QStringLiteral("late"))));

    // A chain one link longer than a link is followed, and one exactly as long.
    QByteArray chain =
        R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"identifier":"r","ideaType":1,)"
        R"("text":"Root","colorThemeType":0,"ideas":[)";
    for (int i = 0; i <= Idea::MaxLinkHops; ++i)
        chain += R"({"identifier":"l)" + QByteArray::number(i) + R"(","ideaType":4,"linkedIdea":"l)" +
                 QByteArray::number(i + 1) + R"("},)";
    chain += R"({"identifier":"l)" + QByteArray::number(Idea::MaxLinkHops + 1) +
             R"(","ideaType":1,"text":"End","colorThemeType":0}]}}})";

    const auto payloadOf = [](const QByteArray& idea) {
        return R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":)" + idea + "}}";
    };
    struct Case
    {
        const char* what;
        QByteArray json;
        qint64 skipped;    // members not known
        QStringList shown; // entries a link shows, among the others
    };
    const Case cases[] = {
        {"links the writer wrote",
         written(root),
         0,
         {"late@1", "rich text@1", "a note@1", "sym@1", "rich text@3", "root@3", "first twin@3"}},
        {"a chain of links to the hop limit", chain, 0, QStringList(Idea::MaxLinkHops + 1, "end@1")},
        {"links in a cycle",
         payloadOf(R"({"ideaType":1,"text":"R","colorThemeType":0,"ideas":[{"identifier":"a","ideaType":4,)"
                   R"("linkedIdea":"b"},{"identifier":"b","ideaType":4,"linkedIdea":"a"}]})"),
         0,
         {}},
        {"identifiers written with escapes, an empty one and a link without a target",
         payloadOf(
             R"({"identifier":"r\u0041","ideaType":1,"text":"R","colorThemeType":0,"ideas":[)"
             R"({"ideaType":4,"linkedIdea":"\u0072A"},{"ideaType":4,"linkedIdea":""},{"ideaType":4},)"
             R"({"identifier":"","ideaType":1,"text":"Empty","colorThemeType":0},)"
             R"({"identifier":"\ud800","ideaType":1,"text":"Lone","colorThemeType":0},)"
             R"({"ideaType":4,"linkedIdea":"\ufffd"},{"ideaType":4,"linkedIdea":"pl\u0061in"},)"
             R"({"ideaType":4,"linkedIdea":"esc"},{"identifier":"plain","ideaType":1,"text":"Plain",)"
             R"("colorThemeType":0},{"identifier":"\u0065sc","ideaType":1,"text":"Esc","colorThemeType":0}]})"),
         0,
         {"r@1", "empty@1", "lone@1", "plain@1", "esc@1"}},
        {"members not known everywhere",
         R"({"ideaDocumentDataObject":{"new":{"a":[true,false,null,-1.5e10,0,"s\n"],"b":{}},"fileFormatVersion":4,)"
         R"("idea":{"x":1,"identifier":"r","ideaType":1,"y":[],"text":"Root","z":"q","note":"Note",)"
         R"("iconImage":{"name":"n","w":2,"symbol":"Sym","v":[[]]},"colorThemeType":0,"after":null,)"
         R"("ideas":[{"ideaType":4,"linkedIdea":"r","link":{}},{"ideaType":1,"text":"Two","colorThemeType":0,)"
         R"("ideas":[],"last":1}],"trailing":"t"},"dateCreated":"2026-01-01T00:00:00Z","mid":0,)"
         R"("appInstance":"MAC_1","end":[1]},"more":{"x":"y"}})",
         13,
         {"root@1"}},
        {"members not known after the children of ideas in lists of two",
         payloadOf(
             R"({"ideaType":1,"text":"R","colorThemeType":0,"ideas":[{"ideaType":1,"text":"A","colorThemeType":0,)"
             R"("ideas":[{"ideaType":1,"text":"A1","colorThemeType":0}],"t":1},{"ideaType":1,"text":"B",)"
             R"("colorThemeType":0,"ideas":[{"ideaType":1,"text":"B1","colorThemeType":0},{"ideaType":1,)"
             R"("text":"B2","colorThemeType":0}],"u":2}]})"),
         2,
         {}},
        {"idea types the scanner need not know", oneIdea(R"(,"text":"Seven")", "7"), 0, {}},
        {"a negative idea type", oneIdea(R"(,"text":"Minus")", "-1"), 0, {}},
        {"the fewest members",
         payloadOf(R"({"ideaType":1,"text":"T","ideas":[{"ideaType":1,"text":"U"},{}]})"),
         0,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<QStringList> expected = treeEntries(c.json);
        ASSERT_TRUE(expected.has_value()) << "the payload readers read it";
        for (const QString& entry : c.shown)
            EXPECT_GE(expected->count(entry), c.shown.count(entry)) << entry.toStdString();
        for (const PayloadTextScanner::Steps steps : BothRoads) {
            PayloadTextScanner::Report report;
            const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(c.json, steps, &report);
            ASSERT_TRUE(scanned.has_value()) << report.describe().toStdString();
            EXPECT_EQ(entries(*scanned), *expected);
            EXPECT_EQ(report.skippedMembers, c.skipped);
            EXPECT_EQ(report.declined, nullptr);
        }
        PayloadTextScanner::Report report;
        const Result<IdeaTextMap> read = SearchTextReader::read(Zlib::compress(c.json).value(), &report);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(entries(read.value()), *expected);
        EXPECT_EQ(report.declined, nullptr);
    }
}

TEST(SearchTextReading, AnyOtherShapeIsLeftToThePayloadReadersWhoseStringsAreTaken)
{
    const QByteArray base = oneIdea(R"(,"text":"Base","note":"Note")");
    ASSERT_TRUE(PayloadTextScanner::scan(base).has_value());
    struct Case
    {
        const char* what;
        QByteArray json;
        bool readable; // whether the payload readers read it
    };
    const Case cases[] = {
        {"white space", QByteArray(base).replace(R"("text":)", R"("text": )"), true},
        {"another member order", oneIdea(R"(,"note":"Note","text":"Base")"), true},
        {"a null", oneIdea(R"(,"text":null)"), true},
        {"a repeated member", oneIdea(R"(,"text":"Base","text":"Again")"), true},
        {"a class named", oneIdea(R"(,"text":"Base","@class":"Idea")"), true},
        {"a name with an escape", oneIdea(R"(,"t\u0065xt":"Base")"), true},
        {"a link with a text", oneIdea(R"(,"linkedIdea":"a","text":"Own")", "4"), true},
        {"a type that is no integer", oneIdea(R"(,"text":"Base")", "1.0"), true},
        {"a member not known nested too deep",
         oneIdea(R"(,"text":"Base","extra":)" + QByteArray(65, '[') + QByteArray(65, ']')), true},
        {"a member not known with white space", oneIdea(R"(,"text":"Base","extra":[1, 2])"), true},
        {"a number beyond a double", oneIdea(R"(,"text":"Base","extra":1e999)"), false},
        {"a single child with a member not known",
         R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"ideaType":1,"text":"Root","colorThemeType":0,)"
         R"("ideas":[{"ideaType":1,"text":"Child","extra":{"ideaType":1},"colorThemeType":0}]}}})",
         true},
        {"a single child with a member not known after its children",
         R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"ideaType":1,"text":"Root","colorThemeType":0,)"
         R"("ideas":[{"ideaType":1,"text":"Child","colorThemeType":0,"ideas":[{"ideaType":1,"text":"G1",)"
         R"("colorThemeType":0},{"ideaType":1,"text":"G2","colorThemeType":0}],"extra":1}]}}})",
         true},
        {"a byte-order mark", "\xEF\xBB\xBF" + base, true},
        {"a version not read",
         QByteArray(base).replace(R"("fileFormatVersion":4)", R"("fileFormatVersion":5)"), false},
        {"no root idea", R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"appInstance":"x"}})", false},
        {"more after the payload", base + "x", false},
        {"a cut text", base.left(base.size() - 3), false},
        {"a raw line break", oneIdea(",\"text\":\"a\nb\""), false},
        {"broken UTF-8 in a colour", oneIdea(",\"text\":\"Base\",\"color\":\"gr\xC3\x28n\""), false},
        {"a broken escape in an identifier",
         QByteArray(base).replace(R"("identifier":"a")", R"("identifier":"\x")"), false},
        {"a broken escape in a text", oneIdea(R"(,"text":"\u12G4")"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PayloadTextScanner::Report report;
        EXPECT_FALSE(
            PayloadTextScanner::scan(c.json, PayloadTextScanner::Steps::Widest, &report).has_value());
        EXPECT_FALSE(report.describe().isEmpty()) << "a decline says why";
        const std::optional<QStringList> expected = treeEntries(c.json);
        ASSERT_EQ(expected.has_value(), c.readable);
        const Result<IdeaTextMap> read = SearchTextReader::read(c.json);
        ASSERT_EQ(read.ok(), c.readable);
        if (c.readable) {
            EXPECT_EQ(entries(read.value()), *expected);
        }
    }
}

TEST(SearchTextReading, TreesAreScannedToTheModelsDepthAndNoDeeper)
{
    // The ideas nested as the writer nests them, `levels` deep.
    const auto chain = [](int levels) {
        QByteArray json = R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":)";
        for (int level = 1; level <= levels; ++level) {
            json += R"({"ideaType":1,"text":"L)" + QByteArray::number(level) + R"(","colorThemeType":0)";
            if (level < levels)
                json += R"(,"ideas":[)";
        }
        for (int level = 1; level < levels; ++level)
            json += "}]";
        return json + "}}}";
    };
    const QByteArray deepest = chain(Idea::MaxDepth);
    const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(deepest);
    ASSERT_TRUE(scanned.has_value());
    EXPECT_EQ(entries(*scanned), *treeEntries(deepest));
    EXPECT_EQ(scanned->levelAt(Idea::MaxDepth - 1), Idea::MaxDepth - 1);

    const QByteArray deeper = chain(Idea::MaxDepth + 1);
    EXPECT_FALSE(PayloadTextScanner::scan(deeper).has_value());
    EXPECT_FALSE(treeEntries(deeper).has_value()) << "the payload readers refuse it";
    EXPECT_FALSE(SearchTextReader::read(deeper).ok());
}

TEST(SearchTextReading, StoredBytesThatAreNoPayloadAnswerWhy)
{
    EXPECT_FALSE(SearchTextReader::read(QByteArray("x")).ok());
    const QByteArray compressed = Zlib::compress(oneIdea(R"(,"text":"Base")")).value();
    EXPECT_FALSE(SearchTextReader::read(compressed.left(compressed.size() - 4)).ok()) << "a cut stream";
    EXPECT_FALSE(SearchTextReader::read(Zlib::compress("not json").value()).ok());
    // A stream beyond the one-pass ratio is read by the payload readers, which measure it.
    const QByteArray padded = oneIdea(R"(,"text":"Base","note":")" + QByteArray(200000, 'z') + "\"");
    const Result<IdeaTextMap> read = SearchTextReader::read(Zlib::compress(padded).value());
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(entries(read.value()), *treeEntries(padded));
}

TEST(SearchTextReading, EveryPlaceOfACharacterInTheStepsIsLowerCasedAsThePayloadReadersDo)
{
    for (const PayloadTextScanner::Steps steps : BothRoads) {
        SCOPED_TRACE(steps == PayloadTextScanner::Steps::Widest ? "widest steps" : "sixteen a step");
        // Each piece after 0 to 70 plain letters, so that it stands at every place of two
        // 32-byte steps, split between them too; more text after it, then the end of the string.
        const char* const pieces[] = {
            "\xC3\x89",         // É, lowered in its last byte
            "\xC3\x97",         // ×, which is no letter
            "\xC2\xB5",         // µ, left alone
            "\xC3\x9F",         // ß
            "\xC4\xB0",         // İ, which lengthens
            "\xE2\x84\xAA",     // the Kelvin sign
            "\xF0\x9F\x9A\x80", // an emoji
            "\\n",
            "\\u00C9",
            "\\\"",
            "",
        };
        for (const char* piece : pieces) {
            for (int before = 0; before <= 70; ++before) {
                SCOPED_TRACE((QByteArray(piece) + " after " + QByteArray::number(before)).toStdString());
                const QByteArray text =
                    QByteArray(before, 'A') + piece + "Zz\xC3\x9C" + QByteArray(before % 5, 'Q');
                const QByteArray json =
                    oneIdea(",\"text\":\"" + text + "\",\"note\":\"" + piece + text + "\"");
                const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(json, steps);
                ASSERT_TRUE(scanned.has_value());
                EXPECT_EQ(entries(*scanned), *treeEntries(json));
            }
        }
        // Broken UTF-8 at each place is refused, as the payload readers refuse it.
        for (const char* broken : {"\xC3", "\xC3\x28", "\x89", "\xE2\x84", "\xC0\x80"}) {
            for (int before = 0; before <= 70; ++before) {
                const QByteArray json =
                    oneIdea(",\"text\":\"" + QByteArray(before, 'a') + broken + QByteArray(40, 'b') + "\"");
                EXPECT_FALSE(PayloadTextScanner::scan(json, steps).has_value()) << before;
                EXPECT_FALSE(treeEntries(json).has_value()) << before;
            }
        }
        // Texts that lower-casing lengthens by half, past the room the text itself gives.
        QByteArray longer;
        for (int i = 0; i < 3000; ++i)
            longer += "\xC8\xBA"; // Ⱥ, whose lower case takes three bytes
        const QByteArray json = oneIdea(",\"text\":\"" + longer + "\",\"note\":\"" + longer + "\"");
        const std::optional<IdeaTextMap> scanned = PayloadTextScanner::scan(json, steps);
        ASSERT_TRUE(scanned.has_value());
        EXPECT_EQ(entries(*scanned), *treeEntries(json));
    }
}

TEST(SearchReadQueueReports, EachSearchLogsItsFirstDeclineAndItsFirstMembersNotKnownOnce)
{
    test::LogCapture log;
    std::size_t answered = 0;
    const auto queue = SearchReadQueue::create(
        [&answered](std::vector<SearchReadQueue::Answer>& answers) { answered += answers.size(); });
    queue->setMaxReads(2);
    const QByteArray declined = QByteArray(oneIdea(R"(,"text":"Base")")).replace(R"("text":)", R"("text": )");
    const QByteArray unknown = oneIdea(R"(,"text":"Base","extra":1)");
    const auto readAll = [&](const QList<QByteArray>& texts) {
        const std::size_t before = answered;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const QByteArray text = texts[i];
            queue->add(QStringLiteral("doc%1").arg(i), 1, [text] { return Result<QByteArray>(text); });
        }
        ASSERT_TRUE(test::runUntil([&] { return answered == before + std::size_t(texts.size()); }));
    };

    queue->beginSearch("base");
    readAll({declined, unknown, declined, oneIdea(R"(,"text":"Base")"), unknown, declined});
    EXPECT_EQ(log.count(QStringLiteral("not scanned: it is not in the writer's shape")), 1)
        << log.lines().join('\n').toStdString();
    EXPECT_EQ(log.count(QStringLiteral("does not know, read past: 1 ")), 1);

    queue->beginSearch(QByteArray());
    readAll({unknown, declined, declined});
    EXPECT_EQ(log.count(QStringLiteral("not scanned:")), 2) << "the next search tells again";
    EXPECT_EQ(log.count(QStringLiteral("members the scanner does not know")), 2);
    readAll({oneIdea(R"(,"text":"Base")")});
    EXPECT_EQ(log.count(QStringLiteral("Search:")), 4) << "nothing to tell";
}
