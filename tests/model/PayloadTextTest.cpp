// The payload's own text reader and writer beside JSONDecoder and JSONEncoder: the texts the
// encoder writes are read straight, as the decoder reads them; what the reader declines still
// reads through the decoder; the writer writes the encoder's bytes; and the inflated text of
// a compressed payload gives its memory back as it is read.

#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/InflatedTextSource.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/PayloadTextReader.h"
#include "model/PayloadTextWriter.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/factory/ScopedIdeaBounds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

using namespace corvex;

namespace {

QByteArray fixture(const char* name)
{
    QFile file(QFileInfo(QStringLiteral(__FILE__))
                   .absoluteDir()
                   .absoluteFilePath(QStringLiteral("../data/payload/") + QLatin1String(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// What JSONDecoder alone makes of the text; null when it refuses.
IdeaDocumentDataObjectPtr decoded(const QByteArray& text)
{
    JSONDecoder decoder(text, IdeaDocumentDataObject::textDecodingOptions());
    if (!decoder.isValid())
        return nullptr;
    const CodedValue value = decoder.decodeObject();
    return decoder.failed() ? nullptr : value.objectAs<IdeaDocumentDataObject>();
}

// Everything a payload holds, as JSONEncoder writes it, and its own instance identifier.
QByteArray contents(const IdeaDocumentDataObjectPtr& payload)
{
    if (!payload)
        return QByteArray("(none)");
    JSONEncoder encoder;
    if (!encoder.encodeObject(*payload))
        return QByteArray("(refused)");
    return encoder.data().value_or(QByteArray()) + '\n' + payload->appInstance().toUtf8();
}

IdeaDocumentDataObjectPtr readStraight(const QByteArray& text)
{
    return PayloadTextReader::read(text, IdeaDocumentDataObject::textDecodingOptions().readOptions());
}

// A document with every kind of member: the factory's ideas with pictures, and the stored
// fixture of every idea type as one of its children.
IdeaDocumentDataObjectPtr richDocument()
{
    auto tree = test::makeDocumentTree(400);
    test::addPictures(tree, 4);
    auto payload = IdeaDocumentDataObject::readFromJSONData(test::makePayloadJson(tree));
    const auto allTypes = IdeaDocumentDataObject::readFromJSONData(fixture("all_types.json"));
    EXPECT_TRUE(payload && allTypes);
    if (!payload || !allTypes)
        return nullptr;
    EXPECT_TRUE(payload->idea()->addIdea(allTypes->idea()));
    IdeaPtr texts =
        Idea::initWithText(QStringLiteral("Quotes \" and \\ and \x01, a tab\t, 🙂 and a lone \xD800"));
    texts->setNote(QStringLiteral(""));
    EXPECT_TRUE(payload->idea()->addIdea(texts));
    EXPECT_TRUE(payload->idea()->addIdea(Idea::initWithText(QString())));
    return payload;
}

} // namespace

TEST(PayloadText, WhatTheEncoderWritesIsReadStraightAsTheDecoderReadsIt)
{
    const IdeaDocumentDataObjectPtr payload = richDocument();
    ASSERT_TRUE(payload);
    const QByteArray text = payload->jsonData().valueOr(QByteArray());
    ASSERT_FALSE(text.isEmpty());
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(*payload));
    EXPECT_EQ(text, encoder.data().value_or(QByteArray())) << "the writer writes the encoder's bytes";

    const IdeaDocumentDataObjectPtr straight = readStraight(text);
    ASSERT_TRUE(straight) << "the reader takes what the encoder writes";
    EXPECT_EQ(contents(straight), contents(decoded(text)));
    EXPECT_EQ(straight->idea()->calculateWholeTreeSize(), payload->idea()->calculateWholeTreeSize());

    // The compressed form reads the same through the text inflated whole.
    const QByteArray stored = payload->corvexData().valueOr(QByteArray());
    InflatedTextSource source(Zlib::inflate(stored).valueOr(QByteArray()), stored, text.size());
    EXPECT_EQ(contents(PayloadTextReader::read(source,
                                               IdeaDocumentDataObject::textDecodingOptions().readOptions())),
              contents(straight));
    EXPECT_EQ(contents(IdeaDocumentDataObject::decodeSomeData(stored).valueOr(nullptr)), contents(straight));

    // The stored fixtures the format has kept over its versions, except the old forms only
    // the decoder reads, are read straight too.
    for (const char* name : {"all_types.json", "legacy_date_offsets.json", "legacy_empty_big_image.json",
                             "legacy_extras.json", "legacy_missing_type.json", "legacy_version_1.json",
                             "legacy_version_2.json", "legacy_version_3.json"}) {
        const QByteArray stored = fixture(name);
        const IdeaDocumentDataObjectPtr read = readStraight(stored);
        ASSERT_TRUE(read) << name;
        EXPECT_EQ(contents(read), contents(decoded(stored))) << name;
    }
}

TEST(PayloadText, WhatOnlyTheDecoderReadsIsDeclinedAndReadByIt)
{
    const QByteArray plain =
        IdeaDocumentDataObject::readFromJSONData(fixture("all_types.json"))->jsonData().valueOr(QByteArray());
    ASSERT_FALSE(plain.isEmpty());
    // The text with its first `what` replaced.
    const auto replaced = [&plain](const char* what, const char* with) {
        QByteArray text = plain;
        const qsizetype at = text.indexOf(what);
        return at < 0 ? text : text.replace(at, qsizetype(qstrlen(what)), with);
    };
    const std::vector<std::pair<const char*, QByteArray>> texts = {
        {"a class named", replaced("\"ideaType\":", "\"@class\":\"Idea\",\"ideaType\":")},
        {"a number as text", replaced("\"colorThemeType\":", "\"colorThemeType\":\"2\",\"x\":")},
        {"a real type", replaced("\"ideaType\":1", "\"ideaType\":1.0")},
        {"a member twice", replaced("\"ideaType\":", "\"ideaType\":3,\"ideaType\":")},
        {"the old wrapped list", fixture("legacy_wrapped_list.json")},
        {"the old class form", fixture("legacy_class_form.json")},
        {"an unknown first member", "{\"other\":1," + plain.mid(1)},
        {"text among the ideas", replaced("\"ideas\":[", "\"ideas\":[\"text\",")},
        {"no JSON", plain.left(plain.size() / 2)},
        {"a tree deeper than the model's",
         test::makePayloadJson(test::makeDocumentTree(Idea::MaxDepth + 1, 1))},
    };
    for (const auto& [name, text] : texts) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(readStraight(text));
        const auto read = IdeaDocumentDataObject::decodeJSONData(text);
        EXPECT_EQ(contents(read.valueOr(nullptr)), contents(decoded(text)));
    }
    // Nulls and members it does not know it reads past, as the decoder leaves them unread.
    const QByteArray pastMembers = replaced(
        "\"ideaType\":", "\"linkedIdea\":null,\"more\":{\"a\":[1,{\"@class\":\"Nothing\"}]},\"ideaType\":");
    ASSERT_TRUE(readStraight(pastMembers));
    EXPECT_EQ(contents(readStraight(pastMembers)), contents(decoded(pastMembers)));
}

TEST(PayloadText, TheReaderAndTheDecoderStopAtTheFirstIdeaPastTheBounds)
{
    const test::ScopedIdeaBounds bounds(10, 4);
    // A tree of `ideas`, `fanOut` children an idea, as the reader takes it and with a class
    // named in every idea, which only the decoder reads.
    const auto texts = [](int ideas, int fanOut) {
        const QByteArray straight = test::makePayloadJson(test::makeDocumentTree(ideas, fanOut));
        return std::make_pair(
            straight, QByteArray(straight).replace("\"ideaType\":", "\"@class\":\"Idea\",\"ideaType\":"));
    };
    struct Case
    {
        int ideas;
        int fanOut;
        std::optional<bool> children; // the bound passed: none, the one on all ideas (false) or children
    };
    for (const Case& c :
         {Case{10, 4, std::nullopt}, Case{11, 4, false}, Case{5, 4, std::nullopt}, Case{6, 5, true}}) {
        SCOPED_TRACE(testing::Message() << c.ideas << " ideas, " << c.fanOut << " an idea");
        const auto [straight, classNamed] = texts(c.ideas, c.fanOut);
        ASSERT_FALSE(readStraight(classNamed));
        PayloadTextReader::Refusal refusal = PayloadTextReader::Refusal::None;
        const bool readWhole =
            PayloadTextReader::read(straight, IdeaDocumentDataObject::textDecodingOptions().readOptions(),
                                    PayloadTextReader::Parts::Whole, &refusal) != nullptr;
        EXPECT_EQ(readWhole, !c.children.has_value());
        EXPECT_EQ(refusal, !c.children   ? PayloadTextReader::Refusal::None
                           : *c.children ? PayloadTextReader::Refusal::TooManyChildren
                                         : PayloadTextReader::Refusal::TooManyIdeas);
        for (const QByteArray& text : {straight, classNamed}) {
            const auto read = IdeaDocumentDataObject::decodeSomeData(text);
            if (!c.children) {
                EXPECT_TRUE(read.ok()) << read.error().toString().toStdString();
                continue;
            }
            ASSERT_FALSE(read.ok());
            EXPECT_EQ(read.error().domain(), IdeaDocumentDataObject::ErrorDomain);
            EXPECT_EQ(read.error().code(), IdeaDocumentDataObject::TooManyIdeas);
            EXPECT_EQ(read.error().userInfo().value(IdeaDocumentDataObject::TooManyIdeasChildrenKey).toBool(),
                      *c.children);
            EXPECT_EQ(
                read.error().userInfo().value(IdeaDocumentDataObject::TooManyIdeasBoundKey).toLongLong(),
                *c.children ? 4 : 10);
        }
    }
}

TEST(PayloadText, ANoteLongerThanTheBoundIsRefusedByTheReaderAndTheDecoder)
{
    // The root's note of the factory's tree (200 characters) with a prefix: lengths counted in
    // UTF-16 units, whatever the UTF-8 bytes or the escapes the text spells them with.
    constexpr qsizetype room = IdeaDocumentDataObject::MaxNoteLength - 200;
    const QByteArray emoji = "\xF0\x9F\x98\x80";
    struct Case
    {
        const char* name;
        QByteArray prefix;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"at the bound", QByteArray(room, 'a'), true},
        {"one past it", QByteArray(room + 1, 'a'), false},
        {"two bytes a character, at the bound", QByteArray("\xC3\xA9").repeated(room), true},
        {"surrogate pairs, at the bound", emoji.repeated(room / 2), true},
        {"surrogate pairs, one past it", emoji.repeated(room / 2) + 'a', false},
        {"escapes, one past it", QByteArray("\\u00e9").repeated(room + 1), false},
    };
    const QByteArray plain = test::makePayloadJson(test::makeDocumentTree(3, 2));
    ASSERT_EQ(plain.count("\"note\":\""), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray straight = QByteArray(plain).replace("\"note\":\"", "\"note\":\"" + c.prefix);
        const QByteArray classNamed =
            QByteArray(straight).replace("\"ideaType\":", "\"@class\":\"Idea\",\"ideaType\":");
        for (const QByteArray& text : {straight, classNamed}) {
            const auto read = IdeaDocumentDataObject::decodeSomeData(text);
            if (c.accepted) {
                ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
                EXPECT_EQ(read.value()->idea()->note().size(), IdeaDocumentDataObject::MaxNoteLength);
                continue;
            }
            ASSERT_FALSE(read.ok());
            EXPECT_EQ(read.error().code(), IdeaDocumentDataObject::NoteTooLong)
                << read.error().toString().toStdString();
        }
    }
}

TEST(InflatedTextSource, GivesBackThePagesReadAndInflatesAgainOnRewind)
{
    // 24 MiB of text that compresses well.
    QByteArray block;
    for (int i = 0; i < 4096; ++i)
        block.append(char('a' + (i * 7919) % 26));
    const QByteArray text = block.repeated(6 * 1024);
    const QByteArray stored = Zlib::compress(text).valueOr(QByteArray());
    ASSERT_LT(stored.size(), text.size() / 100);
    const auto resident = [] {
        QFile status(QStringLiteral("/proc/self/statm"));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(-1);
        return status.readAll().split(' ').value(1).toLongLong() * 4096;
    };

    InflatedTextSource source(Zlib::inflate(stored).valueOr(QByteArray()), stored, text.size());
    const qint64 whole = resident();
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    qsizetype offset = 0;
    bool same = true;
    for (;;) {
        const qsizetype got = source.read(piece.data(), piece.size()).valueOr(-1);
        ASSERT_GE(got, 0);
        if (got == 0)
            break;
        same = same && std::memcmp(piece.constData(), text.constData() + offset, std::size_t(got)) == 0;
        offset += got;
    }
    EXPECT_EQ(offset, text.size());
    EXPECT_TRUE(same);
    ASSERT_GT(whole, 0);
    EXPECT_LT(resident(), whole - 20 * 1024 * 1024) << "the text read has gone back to the system";

    ASSERT_TRUE(source.rewind());
    ASSERT_EQ(source.read(piece.data(), piece.size()).valueOr(-1), piece.size());
    EXPECT_EQ(piece, text.left(piece.size())) << "rewound: the text again from its start";
}
