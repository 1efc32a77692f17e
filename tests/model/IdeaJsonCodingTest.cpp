#include "model/Idea.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/ModelCodables.h"
#include "platform/core/JsonText.h"

#include <gtest/gtest.h>
#include <string>

using namespace corvex;

// The idea coding through the document's own JSON coders: the key forms of the stored
// document, and trees that come back as they went.

namespace {

QByteArray encode(const IdeaPtr& idea)
{
    JSONEncoder encoder;
    EXPECT_TRUE(encoder.encodeObject(idea)) << encoder.errorString().toStdString();
    return encoder.data().value_or(QByteArray());
}

struct Decoded
{
    IdeaPtr idea;
    std::string error; // the decoder's, when it failed
};

Decoded decodeJson(const QByteArray& json)
{
    registerModelCodables();
    JSONDecoder decoder(json);
    decoder.addAlias(QStringLiteral("ideas"), QStringLiteral("Idea"));
    Decoded decoded;
    decoded.idea = decoder.decodeObject().objectAs<Idea>();
    if (decoder.failed())
        decoded.error = decoder.errorString().toStdString();
    return decoded;
}

QByteArray greenPng(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::darkGreen);
    return QVImage(image).pngData();
}

} // namespace

TEST(IdeaJsonCoding, AnIdeaIsStoredInTheDocumentsKeyForms)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("id1796638500_1"));
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("id1796638500_1"));
    ASSERT_TRUE(root->addIdea(linkIdea));
    const QByteArray json = encode(root);
    EXPECT_EQ(json, QByteArrayLiteral(
                        "{\"idea\":{\"identifier\":\"id1796638500_1\",\"ideaType\":1,\"text\":\"Root\","
                        "\"colorThemeType\":0,\"ideas\":[{\"identifier\":\"") +
                        linkIdea->identifier().toUtf8() +
                        QByteArrayLiteral("\",\"ideaType\":4,\"linkedIdea\":\"id1796638500_1\"}]}}"));
}

TEST(IdeaJsonCoding, ATreeWithEveryKindOfIdeaComesBackAsItWent)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root \u00e9\U0001F600"), QStringLiteral("r"));
    const IdeaPtr a = Idea::initWithText(QStringLiteral("A"), QStringLiteral("a"));
    a->setNote(QStringLiteral("first line\nsecond \"quoted\" line"));
    a->setColor(ColorTheme::colorByName(QStringLiteral("blue6")));
    a->setColorThemeType(ColorThemeTypeLighterColor);
    a->setIconImage(IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("Travel"),
                                            QStringLiteral("\U0001F680")));
    const IdeaPtr web = Idea::initWithURL(QStringLiteral("https://example.org/?q=a&b=c"),
                                          QVImage::initWithPNGData(greenPng(300, 200)));
    const ObjectID attachment = ObjectID::createFromData(greenPng(8, 8), QStringLiteral("png"));
    const IdeaPtr picture =
        Idea::initWithImageAttachment(QVImage::initWithPNGData(greenPng(20, 30)), attachment);
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("a"));
    ASSERT_TRUE(root->addIdea(a));
    ASSERT_TRUE(a->addIdea(web));
    ASSERT_TRUE(a->addIdea(picture));
    ASSERT_TRUE(root->addIdea(linkIdea));

    const Decoded decoded = decodeJson(encode(root));
    const IdeaPtr read = decoded.idea;
    ASSERT_TRUE(read) << decoded.error;
    EXPECT_EQ(read->debugDescription(), root->debugDescription());
    const IdeaPtr readA = read->ideas().at(0);
    EXPECT_EQ(readA->note(), a->note());
    EXPECT_EQ(readA->color(), a->color());
    EXPECT_EQ(readA->colorThemeType(), ColorThemeTypeLighterColor);
    ASSERT_TRUE(readA->iconImage());
    EXPECT_EQ(readA->iconImage()->symbol(), QStringLiteral("\U0001F680"));
    EXPECT_EQ(readA->ideas().at(0)->URL(), web->URL());
    EXPECT_EQ(readA->ideas().at(0)->image().cgImage(), web->image().cgImage());
    EXPECT_EQ(readA->ideas().at(1)->att(), attachment);
    EXPECT_EQ(read->ideas().at(1)->linkedIdea(), readA);
    // And once more: the second writing equals the first.
    EXPECT_EQ(encode(read), encode(root));
}

TEST(IdeaJsonCoding, StoredLinkCyclesReadAsBrokenLinks)
{
    const QByteArray json = QByteArrayLiteral(
        "{\"idea\":{\"identifier\":\"r\",\"ideaType\":1,\"text\":\"Root\",\"colorThemeType\":0,\"ideas\":["
        "{\"identifier\":\"s\",\"ideaType\":4,\"linkedIdea\":\"s\"},"
        "{\"identifier\":\"a\",\"ideaType\":4,\"linkedIdea\":\"b\"},"
        "{\"identifier\":\"b\",\"ideaType\":4,\"linkedIdea\":\"a\"}]}}");
    const Decoded decoded = decodeJson(json);
    const IdeaPtr root = decoded.idea;
    ASSERT_TRUE(root) << decoded.error;
    ASSERT_EQ(root->ideas().size(), 3u);
    for (const IdeaPtr& link : root->ideas()) {
        EXPECT_TRUE(link->text().isNull()) << link->identifier().toStdString();
        EXPECT_EQ(link->exportTitle(), QStringLiteral(""));
        EXPECT_FALSE(link->hasText());
    }
    // Written back unchanged.
    const QByteArray written = encode(root);
    EXPECT_TRUE(JsonText::parse(written).value() == JsonText::parse(json).value()) << written.constData();
}

TEST(IdeaJsonCoding, AStoredTreeOfTheMaximumDepthReadsAndOneLevelMoreFails)
{
    auto chain = [](int levels) {
        QByteArray json = QByteArrayLiteral("{\"idea\":");
        for (int i = 0; i < levels; ++i) {
            json += "{\"identifier\":\"n" + QByteArray::number(i) + "\",\"ideaType\":1";
            if (i + 1 < levels)
                json += ",\"ideas\":[";
        }
        for (int i = 0; i < levels; ++i)
            json += (i == 0) ? QByteArrayLiteral("}") : QByteArrayLiteral("]}");
        return json + "}";
    };
    const Decoded atMaximum = decodeJson(chain(Idea::MaxDepth));
    ASSERT_TRUE(atMaximum.idea) << atMaximum.error;
    EXPECT_EQ(atMaximum.idea->subtreeDepth(), 1000);
    const Decoded beyond = decodeJson(chain(Idea::MaxDepth + 1));
    EXPECT_EQ(beyond.idea, nullptr);
    EXPECT_FALSE(beyond.error.empty());
}
