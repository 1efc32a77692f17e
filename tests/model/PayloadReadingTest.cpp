// Reading stored payloads where acceptance testing found faults: texts that begin with
// U+FEFF, lone surrogate escapes, payloads that inflate beyond the bound, and the reasons
// the readers answer for what they refuse.

#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/InflatingSource.h"
#include "model/JSONDecoder.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/model/PayloadBomb.h"
#include "tests/support/LogCapture.h"

#include <QDateTime>
#include <QStringList>
#include <gtest/gtest.h>
#include <vector>

using namespace corvex;

namespace {

const QString kFeff(QChar(0xFEFF));

std::vector<IdeaPtr> ideasOf(const IdeaDocumentDataObjectPtr& payload)
{
    std::vector<IdeaPtr> ideas;
    if (payload && payload->idea())
        payload->idea()->traverseNaturally([&ideas](const IdeaPtr& idea, qint64) { ideas.push_back(idea); },
                                           0);
    return ideas;
}

QString describe(const Error& error)
{
    return QStringLiteral("%1 %2: %3").arg(error.domain()).arg(error.code()).arg(error.toString());
}

// Everything a reader may answer for the stored bytes of a payload, plain and compressed.
std::vector<QByteArray> storedForms(const QByteArray& json)
{
    return {json, IdeaDocumentDataObject::storedForm(json, false).valueOr(QByteArray())};
}

} // namespace

// ---- U+FEFF at the start of a text

TEST(PayloadReadingFeff, TitlesAndNotesThatBeginWithFeffReadBackUnchangedAfterASave)
{
    const QString texts[] = {kFeff + QStringLiteral("x"), kFeff, kFeff + kFeff + QStringLiteral("two"),
                             QStringLiteral("x") + kFeff};
    for (const QString& text : texts) {
        auto root = Idea::initWithText(text);
        root->setNote(text + QStringLiteral(" note"));
        auto child = Idea::initWithText(text);
        ASSERT_TRUE(root->addIdea(child));
        const auto saved =
            IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime())->jsonData();
        ASSERT_TRUE(saved.ok());
        for (const QByteArray& stored : storedForms(saved.value())) {
            const auto read = IdeaDocumentDataObject::decodeSomeData(stored);
            ASSERT_TRUE(read.ok()) << describe(read.error()).toStdString();
            const IdeaPtr readRoot = read.value()->idea();
            EXPECT_EQ(readRoot->text(), text);
            EXPECT_EQ(readRoot->note(), text + QStringLiteral(" note"));
            ASSERT_EQ(readRoot->ideas().size(), 1u);
            EXPECT_EQ(readRoot->ideas().front()->text(), text);
        }
    }
}

TEST(PayloadReadingFeff, TheEscapedFormKeepsItToo)
{
    const QByteArray json = "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,\"idea\":{\"identifier\":"
                            "\"id1_1\",\"ideaType\":1,\"text\":\"\\ufeffescaped\",\"note\":\"\\uFEFF\"}}}";
    const auto read = IdeaDocumentDataObject::decodeJSONData(json);
    ASSERT_TRUE(read.ok()) << describe(read.error()).toStdString();
    EXPECT_EQ(read.value()->idea()->text(), kFeff + QStringLiteral("escaped"));
    EXPECT_EQ(read.value()->idea()->note(), kFeff);
}

TEST(PayloadReadingFeff, TheDecoderOverParsedValuesKeepsIt)
{
    // The index is read this way: from parsed values, not while the text is read.
    JSONDecoder decoder(QByteArray("{\"name\":\"\xef\xbb\xbfraw\",\"other\":\"\\ufeffescaped\"}"));
    ASSERT_TRUE(decoder.isValid());
    EXPECT_EQ(decoder.decodeStringForKey(QStringLiteral("name")), kFeff + QStringLiteral("raw"));
    EXPECT_EQ(decoder.decodeStringForKey(QStringLiteral("other")), kFeff + QStringLiteral("escaped"));
}

// ---- Lone surrogate escapes

TEST(PayloadReadingSurrogates, ALoneSurrogateReadsAsAReplacementCharacterAndEveryIdeaIsKept)
{
    auto tree = test::makeDocumentTree(50);
    tree[17].text = QStringLiteral("MARK_HIGH");
    tree[31].note = QStringLiteral("MARK_LOW");
    QByteArray json = test::makePayloadJson(tree);
    json.replace("MARK_HIGH", "a\\ud800b");
    json.replace("MARK_LOW", "\\udc00");
    for (const QByteArray& stored : storedForms(json)) {
        const auto read = IdeaDocumentDataObject::decodeSomeData(stored);
        ASSERT_TRUE(read.ok()) << describe(read.error()).toStdString();
        const auto ideas = ideasOf(read.value());
        ASSERT_EQ(ideas.size(), tree.size()) << "every other idea is kept";
        for (const IdeaPtr& idea : ideas) {
            if (idea->identifier() == tree[17].identifier) {
                EXPECT_EQ(idea->text(), QStringLiteral("a\uFFFDb"));
            } else if (idea->identifier() == tree[31].identifier) {
                EXPECT_EQ(idea->note(), QStringLiteral("\uFFFD"));
            }
        }
    }
}

// ---- The bound of one payload

TEST(PayloadReadingBound, AStreamInflatingBeyondTheBoundIsRefusedWithTheLimitsError)
{
    const QByteArray bomb = test::paddedPayload(IdeaDocumentDataObject::MaxPayloadBytes + 1);
    ASSERT_FALSE(bomb.isEmpty());
    ASSERT_LT(bomb.size(), 1 << 20) << "a megabyte at most that claims half a gigabyte";
    const auto read = IdeaDocumentDataObject::decodeSomeData(bomb);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().domain(), Zlib::ErrorDomain) << describe(read.error()).toStdString();
    EXPECT_EQ(read.error().code(), Zlib::LimitExceeded);
    EXPECT_TRUE(read.error().toString().contains(QString::number(IdeaDocumentDataObject::MaxPayloadBytes)))
        << describe(read.error()).toStdString();
}

TEST(PayloadReadingBound, APaddedStreamWithinTheBoundReads)
{
    const auto read = IdeaDocumentDataObject::decodeSomeData(test::paddedPayload(qint64(3) << 20));
    ASSERT_TRUE(read.ok()) << describe(read.error()).toStdString();
    EXPECT_EQ(read.value()->idea()->text(), QStringLiteral("padded"));
}

TEST(PayloadReadingBound, TheInflatingSourceStopsAtItsLimitAndKeepsZlibsRules)
{
    const QByteArray text = test::makePayloadJson(test::makeDocumentTree(30));
    const QByteArray compressed = *Zlib::compress(text);
    const qint64 size = text.size();
    EXPECT_EQ(InflatingSource::measure(compressed, size).valueOr(-1), size) << "the limit itself is allowed";
    const auto over = InflatingSource::measure(compressed, size - 1);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().code(), Zlib::LimitExceeded);

    const struct
    {
        const char* name;
        QByteArray bytes;
        int code;
    } broken[] = {
        {"cut short", compressed.left(compressed.size() - 10), Zlib::TruncatedData},
        {"bytes after the end", compressed + QByteArray("x"), Zlib::TrailingData},
        {"a wrong checksum", compressed.left(compressed.size() - 1) + char(compressed.back() ^ 1),
         Zlib::CorruptData},
    };
    for (const auto& c : broken) {
        const auto measured = InflatingSource::measure(c.bytes, size * 2);
        ASSERT_FALSE(measured.ok()) << c.name;
        EXPECT_EQ(measured.error().code(), c.code)
            << c.name << ": " << describe(measured.error()).toStdString();
        EXPECT_EQ(measured.error().code(), Zlib::inflate(c.bytes).error().code()) << c.name;
    }

    // Read in small pieces, the text is the whole inflated text.
    InflatingSource source(compressed, size);
    QByteArray pieces;
    char buffer[7];
    for (;;) {
        const auto got = source.read(buffer, qsizetype(sizeof buffer));
        ASSERT_TRUE(got.ok()) << describe(got.error()).toStdString();
        if (got.value() == 0)
            break;
        pieces.append(buffer, got.value());
    }
    EXPECT_EQ(pieces, text);
    ASSERT_TRUE(source.rewind());
    EXPECT_EQ(source.read(buffer, 1).valueOr(0), 1);
    EXPECT_EQ(buffer[0], text[0]) << "rewound to the start";
}

// ---- Reasons

TEST(PayloadReadingReasons, EachRefusalAnswersItsOwnReason)
{
    const QByteArray good = test::makePayloadJson(test::makeDocumentTree(3));
    QByteArray version5 = good;
    version5.replace("\"fileFormatVersion\":4", "\"fileFormatVersion\":5");
    const struct
    {
        const char* name;
        QByteArray bytes;
        QString domain;
        int code;
        QString named; // a fragment of the error's text
    } cases[] = {
        {"too short", QByteArray("{"), IdeaDocumentDataObject::ErrorDomain, IdeaDocumentDataObject::TooShort,
         QString()},
        {"version 5", version5, IdeaDocumentDataObject::ErrorDomain,
         IdeaDocumentDataObject::UnreadableVersion, QStringLiteral("version 5")},
        {"version 5 compressed", *Zlib::compress(version5), IdeaDocumentDataObject::ErrorDomain,
         IdeaDocumentDataObject::UnreadableVersion, QStringLiteral("version 5")},
        {"no root idea", QByteArray("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4}}"),
         IdeaDocumentDataObject::ErrorDomain, IdeaDocumentDataObject::NoRootIdea, QString()},
        {"another root object", QByteArray("{\"iconImage\":{\"name\":\"x\"}}"),
         IdeaDocumentDataObject::ErrorDomain, IdeaDocumentDataObject::NoPayload, QString()},
        {"not JSON", QByteArray("{\"ideaDocumentDataObject\":"), JSONDecoder::ErrorDomain,
         JSONDecoder::ParseFailed, QString()},
        {"a stream cut short", Zlib::compress(good)->left(40), Zlib::ErrorDomain, Zlib::TruncatedData,
         QString()},
    };
    for (const auto& c : cases) {
        const auto read = IdeaDocumentDataObject::decodeSomeData(c.bytes);
        ASSERT_FALSE(read.ok()) << c.name;
        EXPECT_EQ(read.error().domain(), c.domain) << c.name << ": " << describe(read.error()).toStdString();
        EXPECT_EQ(read.error().code(), c.code) << c.name << ": " << describe(read.error()).toStdString();
        EXPECT_TRUE(read.error().toString().contains(c.named))
            << c.name << ": " << describe(read.error()).toStdString();
    }
}

TEST(PayloadReadingReasons, TheReadersThatAnswerNothingLogTheReason)
{
    QByteArray version5 = test::makePayloadJson(test::makeDocumentTree(3));
    version5.replace("\"fileFormatVersion\":4", "\"fileFormatVersion\":5");
    test::LogCapture log;
    EXPECT_EQ(IdeaDocumentDataObject::readFromUnknownData(version5, QUrl::fromLocalFile("/x/a.crvx")),
              nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("IdeaDocumentDataObject: unreadable payload: ")) &&
                log.contains(QStringLiteral("file format version 5")))
        << log.lines().join(u'\n').toStdString();
    log.clear();
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(QByteArray("{")), nullptr);
    EXPECT_TRUE(log.lines().isEmpty())
        << "too few bytes are no damage: " << log.lines().join(u'\n').toStdString();
}

TEST(PayloadReadingTexts, TextsOnlyLeavesPicturesAndAttachmentsUndecodedAndReadsTheSameTexts)
{
    std::vector<test::FactoryIdea> ideas = test::makeDocumentTree(30, 4, 3);
    test::addPictures(ideas, 4, 3);
    const IdeaDocumentDataObjectPtr source =
        IdeaDocumentDataObject::readFromJSONData(test::makePayloadJson(ideas));
    ASSERT_NE(source, nullptr);
    source->idea()->ideas()[0]->setAtt(
        ObjectID::parseFromString(QStringLiteral("0123456789abcdef0123456789abcdef01234567.png")));
    const QByteArray json = source->jsonData().value();
    for (const QByteArray& stored : storedForms(json)) {
        const auto whole = IdeaDocumentDataObject::decodeSomeData(stored);
        const auto texts =
            IdeaDocumentDataObject::decodeSomeData(stored, IdeaDocumentDataObject::Parts::Texts);
        ASSERT_TRUE(whole.ok());
        ASSERT_TRUE(texts.ok());
        const std::vector<IdeaPtr> wholeIdeas = ideasOf(whole.value());
        const std::vector<IdeaPtr> textIdeas = ideasOf(texts.value());
        ASSERT_EQ(wholeIdeas.size(), textIdeas.size());
        int pictures = 0;
        for (std::size_t i = 0; i < wholeIdeas.size(); ++i) {
            EXPECT_EQ(textIdeas[i]->identifier(), wholeIdeas[i]->identifier());
            EXPECT_EQ(textIdeas[i]->text(), wholeIdeas[i]->text());
            EXPECT_EQ(textIdeas[i]->note(), wholeIdeas[i]->note());
            EXPECT_EQ(textIdeas[i]->iconImage(), wholeIdeas[i]->iconImage());
            pictures += wholeIdeas[i]->image().hasImage() ? 1 : 0;
            EXPECT_FALSE(textIdeas[i]->image().hasImage());
            EXPECT_TRUE(textIdeas[i]->att().isNull());
        }
        EXPECT_EQ(pictures, 4);
        EXPECT_FALSE(wholeIdeas[1]->att().isNull());
    }
    // Texts the reader declines for the one are declined for the other: a picture of another
    // type reads the same way (through the decoder) both times.
    const QByteArray odd = QByteArray(json).replace(R"("ideaType":1,)", R"("ideaType":1,"image":5,)");
    EXPECT_EQ(IdeaDocumentDataObject::decodeSomeData(odd).ok(),
              IdeaDocumentDataObject::decodeSomeData(odd, IdeaDocumentDataObject::Parts::Texts).ok());
}
