#include "model/Idea.h"
#include "model/ModelCodables.h"
#include "tests/model/MemoryCoder.h"
#include "tests/model/ModelTestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::decodeIdea;
using corvex::test::MemoryCoder;
using corvex::test::MemoryRecord;

namespace {

std::shared_ptr<MemoryRecord> ideaRecord(const QString& identifier)
{
    auto record = std::make_shared<MemoryRecord>();
    record->className = QStringLiteral("Idea");
    record->set(QStringLiteral("identifier"), identifier);
    return record;
}

IdeaPtr roundTrip(const IdeaPtr& source)
{
    return decodeIdea(MemoryCoder::encode(*source));
}

QByteArray magentaPng(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::magenta);
    return QVImage(image).pngData();
}

} // namespace

TEST(IdeaCoding, ModelCodablesRegisterTheIdeaClassesOnce)
{
    registerModelCodables();
    registerModelCodables();
    EXPECT_TRUE(CodableRegistry::isRegistered(QStringLiteral("Idea")));
    EXPECT_TRUE(CodableRegistry::isRegistered(QStringLiteral("IconImage")));
    EXPECT_TRUE(CodableRegistry::isRegistered(QStringLiteral("PortableImage")));
}

TEST(IdeaCoding, ATextIdeaWritesItsKeysInTheirOrderAndLeavesOutWhatIsNotSet)
{
    const IdeaPtr full = Idea::initWithText(QStringLiteral("Text"), QStringLiteral("id1"));
    full->setURL(QStringLiteral("https://example.org/"));
    full->setNote(QStringLiteral("note"));
    full->setColor(ColorTheme::colorByName(QStringLiteral("violet2")));
    full->updateImage(
        QVImage::initWithPNGData(magentaPng(200, 200)),
        ObjectID::parseFromString(QStringLiteral("0123456789abcdef0123456789abcdef01234567.png")));
    full->setIconImage(IconImage::initWithName(QStringLiteral("grinning"), QStringLiteral("Smileys"),
                                               QStringLiteral("\U0001F600")));
    full->setColorThemeType(ColorThemeTypeVaryingColors);
    ASSERT_TRUE(full->addIdea(Idea::initWithText(QStringLiteral("Child"), QStringLiteral("id2"))));

    const auto record = MemoryCoder::encode(*full);
    EXPECT_EQ(record->className, QStringLiteral("Idea"));
    EXPECT_EQ(record->keys(), (QStringList{"identifier", "ideaType", "text", "URL", "note", "color", "att",
                                           "image", "iconImage", "colorThemeType", "ideas"}));
    EXPECT_EQ(record->find(QStringLiteral("ideaType"))->plain, Value(1));
    EXPECT_EQ(record->find(QStringLiteral("color"))->plain, Value(QStringLiteral("violet2")));
    EXPECT_EQ(record->find(QStringLiteral("att"))->plain,
              Value(QStringLiteral("0123456789abcdef0123456789abcdef01234567.png")));
    EXPECT_EQ(record->find(QStringLiteral("colorThemeType"))->plain, Value(2));
    EXPECT_TRUE(QVImage::isPNG(record->find(QStringLiteral("image"))->plain.toData()));
    EXPECT_EQ(record->find(QStringLiteral("iconImage"))->object->keys(),
              (QStringList{"name", "category", "symbol"}));
    ASSERT_EQ(record->find(QStringLiteral("ideas"))->list.size(), 1u);

    // A bare idea: no text, no children, but always its theme type.
    const auto bare = MemoryCoder::encode(*Idea::initWithText(QString(), QStringLiteral("id3")));
    EXPECT_EQ(bare->keys(), (QStringList{"identifier", "ideaType", "colorThemeType"}));
    // An empty text is a text.
    const auto empty = MemoryCoder::encode(*Idea::initWithText(QStringLiteral(""), QStringLiteral("id4")));
    EXPECT_EQ(empty->keys(), (QStringList{"identifier", "ideaType", "text", "colorThemeType"}));
}

TEST(IdeaCoding, ALinkIdeaWritesOnlyIdentifierTypeAndTarget)
{
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("target"));
    linkIdea->setAtt(ObjectID(QStringLiteral("d"), QStringLiteral("png")));
    linkIdea->setColorThemeType(ColorThemeTypeLighterColor);
    const auto record = MemoryCoder::encode(*linkIdea);
    EXPECT_EQ(record->keys(), (QStringList{"identifier", "ideaType", "linkedIdea"}));
    EXPECT_EQ(record->find(QStringLiteral("ideaType"))->plain, Value(4));
    EXPECT_EQ(record->find(QStringLiteral("linkedIdea"))->plain, Value(QStringLiteral("target")));
}

TEST(IdeaCoding, ATreeReadsBackAsItWasWritten)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("r"));
    const IdeaPtr a = Idea::initWithText(QStringLiteral("A"), QStringLiteral("a"));
    a->setNote(QStringLiteral("line one\nline two"));
    a->setColor(ColorTheme::colorByName(QStringLiteral("red5")));
    a->setColorThemeType(ColorThemeTypeVaryingColors);
    a->setIconImage(IconImage::initWithName(QStringLiteral("grinning"), QStringLiteral("Smileys"),
                                            QStringLiteral("\U0001F600")));
    const IdeaPtr web = Idea::initWithURL(QStringLiteral("https://example.org/"),
                                          QVImage::initWithPNGData(magentaPng(320, 240)));
    const ObjectID attachment = ObjectID::createFromData(QByteArrayLiteral("bytes"), QStringLiteral("png"));
    const IdeaPtr picture =
        Idea::initWithImageAttachment(QVImage::initWithPNGData(magentaPng(50, 80)), attachment);
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("a"));
    ASSERT_TRUE(root->addIdea(a));
    ASSERT_TRUE(a->addIdea(web));
    ASSERT_TRUE(root->addIdea(picture));
    ASSERT_TRUE(root->addIdea(linkIdea));

    const IdeaPtr read = roundTrip(root);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->debugDescription(), root->debugDescription());
    const IdeaPtr readA = read->ideas()[0];
    EXPECT_EQ(readA->parent(), read);
    EXPECT_EQ(readA->note(), a->note());
    EXPECT_EQ(readA->color(), a->color()) << "the table's colour object";
    EXPECT_EQ(readA->colorThemeType(), ColorThemeTypeVaryingColors);
    ASSERT_TRUE(readA->iconImage());
    EXPECT_EQ(readA->iconImage()->symbol(), QStringLiteral("\U0001F600"));
    EXPECT_EQ(readA->iconImage()->name(), QStringLiteral("grinning"));
    EXPECT_EQ(readA->iconImage()->category(), QStringLiteral("Smileys"));
    const IdeaPtr readWeb = readA->ideas()[0];
    EXPECT_EQ(readWeb->URL(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(readWeb->image().pixelSize(), Size(160, 160));
    EXPECT_EQ(readWeb->image().cgImage(), web->image().cgImage());
    EXPECT_EQ(read->ideas()[1]->att(), attachment);
    EXPECT_EQ(read->ideas()[2]->linkedIdea(), readA);
    EXPECT_EQ(read->ideas()[2]->text(), QStringLiteral("A"));
}

TEST(IdeaCoding, OldDataWithoutATypeIsInferredFromItsContent)
{
    auto web = ideaRecord(QStringLiteral("w"));
    web->set(QStringLiteral("URL"), QStringLiteral("https://example.org/"));
    web->set(QStringLiteral("image"), magentaPng(10, 10));
    EXPECT_EQ(decodeIdea(web)->ideaType(), IdeaTypeURL);

    auto picture = ideaRecord(QStringLiteral("p"));
    picture->set(QStringLiteral("image"), magentaPng(10, 10));
    picture->set(QStringLiteral("text"), QStringLiteral("caption"));
    EXPECT_EQ(decodeIdea(picture)->ideaType(), IdeaTypeImage);

    auto text = ideaRecord(QStringLiteral("t"));
    text->set(QStringLiteral("text"), QStringLiteral("words"));
    EXPECT_EQ(decodeIdea(text)->ideaType(), IdeaTypeText);
    auto undefined = ideaRecord(QStringLiteral("u"));
    undefined->set(QStringLiteral("ideaType"), 0);
    EXPECT_EQ(decodeIdea(undefined)->ideaType(), IdeaTypeText);

    // A type that is written stays, even one of no known kind.
    auto odd = ideaRecord(QStringLiteral("o"));
    odd->set(QStringLiteral("ideaType"), 7);
    odd->set(QStringLiteral("URL"), QStringLiteral("https://example.org/"));
    const IdeaPtr oddIdea = decodeIdea(odd);
    EXPECT_EQ(oddIdea->ideaType(), 7u);
    EXPECT_EQ(oddIdea->exportTitle(), QStringLiteral(""));
    EXPECT_EQ(oddIdea->debugDescription(), QStringLiteral("<Idea identifier=[o] WRONG_IDEA_TYPE i=o \n>"));

    // Documents hold 32-bit numbers: a larger one stays a wrong type (the largest 32-bit
    // value), never wraps round to a known one.
    auto huge = ideaRecord(QStringLiteral("h"));
    huge->set(QStringLiteral("ideaType"), (qint64(1) << 32) + 1);
    huge->set(QStringLiteral("colorThemeType"), qint64(1) << 40);
    const IdeaPtr hugeIdea = decodeIdea(huge);
    EXPECT_EQ(hugeIdea->ideaType(), 0xFFFFFFFFu);
    EXPECT_EQ(hugeIdea->colorThemeType(), 0xFFFFFFFFu);
    const auto written = MemoryCoder::encode(*hugeIdea);
    EXPECT_EQ(written->find(QStringLiteral("ideaType"))->plain, Value(-1));
    EXPECT_EQ(decodeIdea(written)->ideaType(), 0xFFFFFFFFu);
}

TEST(IdeaCoding, AStoredLinkReadsOnlyItsTarget)
{
    auto record = ideaRecord(QStringLiteral("l"));
    record->set(QStringLiteral("ideaType"), 4);
    record->set(QStringLiteral("linkedIdea"), QStringLiteral("t"));
    record->set(QStringLiteral("text"), QStringLiteral("ignored"));
    record->set(QStringLiteral("att"), QStringLiteral("d.png"));
    record->setList(QStringLiteral("ideas"), {ideaRecord(QStringLiteral("c"))});
    const IdeaPtr linkIdea = decodeIdea(record);
    ASSERT_TRUE(linkIdea);
    EXPECT_TRUE(linkIdea->isLink());
    EXPECT_EQ(linkIdea->linkedIdentifier(), QStringLiteral("t"));
    EXPECT_TRUE(linkIdea->att().isNull());
    EXPECT_TRUE(linkIdea->ideas().empty());

    auto withoutTarget = ideaRecord(QStringLiteral("l2"));
    withoutTarget->set(QStringLiteral("ideaType"), 4);
    const IdeaPtr broken = decodeIdea(withoutTarget);
    EXPECT_TRUE(broken->linkedIdentifier().isNull());
    EXPECT_EQ(broken->linkedIdea(), nullptr);
}

TEST(IdeaCoding, StoredValuesAreReadWithTheirMeaning)
{
    auto record = ideaRecord(QStringLiteral("x"));
    record->set(QStringLiteral("ideaType"), 1);
    record->set(QStringLiteral("note"), QStringLiteral(""));
    record->set(QStringLiteral("bigImageData"), QByteArray(""));
    record->set(QStringLiteral("color"), QStringLiteral("no-such-colour"));
    record->set(QStringLiteral("att"), QStringLiteral("0123456789abcdef0123456789abcdef01234567.png.extra"));
    record->set(QStringLiteral("text"), QStringLiteral(""));
    const IdeaPtr read = decodeIdea(record);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->note().isNull()) << "an empty note is no note";
    EXPECT_TRUE(read->bigImageData().isNull()) << "empty big picture bytes are none";
    EXPECT_EQ(read->color(), nullptr);
    EXPECT_EQ(read->att().asString(), QStringLiteral("0123456789abcdef0123456789abcdef01234567.png"));
    EXPECT_FALSE(read->text().isNull());
    EXPECT_TRUE(read->text().isEmpty());

    auto noExtension = ideaRecord(QStringLiteral("y"));
    noExtension->set(QStringLiteral("att"), QStringLiteral("0123456789abcdef0123456789abcdef01234567"));
    EXPECT_TRUE(decodeIdea(noExtension)->att().isNull()) << "a name without extension is no attachment";
}

TEST(IdeaCoding, ValuesOfTheWrongTypeReadAsMissing)
{
    auto record = ideaRecord(QStringLiteral("x"));
    record->set(QStringLiteral("ideaType"), QStringLiteral("one"));
    record->set(QStringLiteral("text"), 42);
    record->set(QStringLiteral("note"), true);
    record->set(QStringLiteral("URL"), ValueArray{Value(1)});
    record->set(QStringLiteral("color"), 5);
    record->set(QStringLiteral("att"), 1.5);
    record->set(QStringLiteral("image"), QStringLiteral("not data"));
    record->set(QStringLiteral("colorThemeType"), QStringLiteral("2"));
    record->set(QStringLiteral("iconImage"), QStringLiteral("not an object"));
    record->set(QStringLiteral("ideas"), QStringLiteral("not a list"));
    const IdeaPtr read = decodeIdea(record);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ideaType(), IdeaTypeText);
    EXPECT_TRUE(read->text().isNull());
    EXPECT_TRUE(read->note().isNull());
    EXPECT_TRUE(read->URL().isNull());
    EXPECT_EQ(read->color(), nullptr);
    EXPECT_TRUE(read->att().isNull());
    EXPECT_FALSE(read->image().hasImage());
    EXPECT_EQ(read->colorThemeType(), 0u);
    EXPECT_EQ(read->iconImage(), nullptr);
    EXPECT_TRUE(read->ideas().empty());
}

TEST(IdeaCoding, AStoredTreeOfTheMaximumDepthReadsAndOneLevelMoreIsRefused)
{
    auto chain = [](int levels) {
        std::shared_ptr<MemoryRecord> inner = ideaRecord(QStringLiteral("n%1").arg(levels - 1));
        for (int i = levels - 2; i >= 0; --i) {
            auto outer = ideaRecord(QStringLiteral("n%1").arg(i));
            outer->setList(QStringLiteral("ideas"), {inner});
            inner = outer;
        }
        return inner;
    };
    const IdeaPtr deepest = decodeIdea(chain(Idea::MaxDepth));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->subtreeDepth(), 1000);

    test::LogCapture log;
    EXPECT_EQ(decodeIdea(chain(Idea::MaxDepth + 1)), nullptr);
    EXPECT_EQ(log.count(QStringLiteral("the tree would be deeper than the maximum of 1000 levels")), 1);
}
