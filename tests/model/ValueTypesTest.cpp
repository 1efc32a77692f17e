#include "model/IconImage.h"
#include "model/ModelCodables.h"
#include "model/ObjectID.h"
#include "model/PortableImage.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/PlatformFont.h"
#include "tests/model/MemoryCoder.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QThread>
#include <atomic>
#include <concepts>
#include <gtest/gtest.h>
#include <thread>
#include <unordered_set>
#include <vector>

using namespace corvex;
using corvex::test::MemoryCoder;
using corvex::test::MemoryRecord;

// ---- ObjectID

TEST(ObjectID, TheIdentifierOfBytesIsTheSha1OfTheBytesThenTheExtension)
{
    const ObjectID id = ObjectID::createFromData(QByteArrayLiteral("abc"), QStringLiteral("png"));
    EXPECT_EQ(id.dash(), QStringLiteral("72d6e82369d5f91854268a03ca8afd7f28900c7c"));
    EXPECT_EQ(id.extension(), QStringLiteral("png"));
    EXPECT_EQ(id.asString(), QStringLiteral("72d6e82369d5f91854268a03ca8afd7f28900c7c.png"));
    EXPECT_EQ(id.description(), id.asString());
    // The extension goes in as UTF-8.
    EXPECT_EQ(ObjectID::createFromData(QByteArray("x\xc3\xa9"), QStringLiteral("p\u00e9g")).dash(),
              QStringLiteral("045ab22a4121e68dcdb22439902a9d8cbaadee13"));
    EXPECT_EQ(ObjectID::createFromData(QByteArray(), QStringLiteral("png")).dash(),
              QStringLiteral("9040a7d6cdf7a0d6cab1823831c6ceb7d01af97f"));
}

TEST(ObjectID, TheSameBytesGiveTheSameIdentifierAndAnotherExtensionAnotherDash)
{
    const QByteArray bytes = QByteArrayLiteral("abc");
    EXPECT_EQ(ObjectID::createFromData(bytes, QStringLiteral("png")),
              ObjectID::createFromData(QByteArray("abc"), QStringLiteral("png")));
    const ObjectID jpg = ObjectID::createFromData(bytes, QStringLiteral("jpg"));
    EXPECT_EQ(jpg.dash(), QStringLiteral("0f89618edd7d6e053d982bc410726f383d491dc4"));
    EXPECT_NE(jpg.dash(), ObjectID::createFromData(bytes, QStringLiteral("png")).dash());
}

TEST(ObjectID, IdentifiersMadeSeparatelyFromOneDashAndExtensionAreEqualAndHashAlike)
{
    const QString dash = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
    const ObjectID a(dash, QStringLiteral("png"));
    const ObjectID b = ObjectID::initWithDash(QString(dash), QStringLiteral("png"));
    EXPECT_TRUE(a.isEqualToObjectID(b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(std::hash<ObjectID>()(a), std::hash<ObjectID>()(b));
    // The hash is the dash's: the extension does not take part.
    EXPECT_EQ(qHash(a), qHash(ObjectID(dash, QStringLiteral("jpg"))));
    EXPECT_NE(a, ObjectID(dash, QStringLiteral("jpg")));
    EXPECT_EQ((std::unordered_set<ObjectID>{a, b}).size(), 1u);
}

TEST(ObjectID, IsNeverEqualToAString)
{
    // Nothing converts a string into an identifier or compares the two.
    static_assert(!std::is_convertible_v<QString, ObjectID>);
    static_assert(!std::equality_comparable_with<ObjectID, QString>);
    static_assert(!std::is_convertible_v<ObjectID, QString>);
    // Its string form is the way to a text.
    const ObjectID id(QStringLiteral("d"), QStringLiteral("png"));
    EXPECT_EQ(id.asString(), QStringLiteral("d.png"));
}

TEST(ObjectID, ParseFromStringTakesTheFirstTwoComponents)
{
    const ObjectID two = ObjectID::parseFromString(QStringLiteral("abcdef.png.old"));
    EXPECT_EQ(two.dash(), QStringLiteral("abcdef"));
    EXPECT_EQ(two.extension(), QStringLiteral("png"));
    EXPECT_EQ(two.asString(), QStringLiteral("abcdef.png"));

    const ObjectID one = ObjectID::parseFromString(QStringLiteral("abcdef.png"));
    EXPECT_EQ(one, ObjectID(QStringLiteral("abcdef"), QStringLiteral("png")));
}

TEST(ObjectID, AStringWithoutBothPartsNamesNoAttachment)
{
    for (const QString& text :
         {QString(), QStringLiteral(""), QStringLiteral("abcdef"), QStringLiteral(".png"),
          QStringLiteral("abcdef."), QStringLiteral("abcdef..png")}) {
        const ObjectID id = ObjectID::parseFromString(text);
        EXPECT_TRUE(id.isNull()) << text.toStdString();
        EXPECT_TRUE(id.asString().isNull());
        EXPECT_TRUE(id.dash().isNull());
    }
    EXPECT_EQ(ObjectID(), ObjectID());
    EXPECT_NE(ObjectID(), ObjectID(QString(), QString())) << "only a default-made identifier is null";
}

// ---- IconImage

TEST(IconImage, KeepsItsNameCategoryAndSymbolAndCodesThem)
{
    const IconImagePtr icon = IconImage::initWithName(
        QStringLiteral("red heart"), QStringLiteral("Smileys & Emotion"), QStringLiteral("\u2764\uFE0F"));
    EXPECT_EQ(icon->name(), QStringLiteral("red heart"));
    EXPECT_EQ(icon->category(), QStringLiteral("Smileys & Emotion"));
    EXPECT_EQ(icon->symbol(), QStringLiteral("\u2764\uFE0F"));
    EXPECT_EQ(icon->className(), QStringLiteral("IconImage"));

    const auto record = MemoryCoder::encode(*icon);
    EXPECT_EQ(record->keys(), (QStringList{"name", "category", "symbol"}));
    registerModelCodables();
    const auto read = std::dynamic_pointer_cast<IconImage>(MemoryCoder::decode(record));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->name(), icon->name());
    EXPECT_EQ(read->category(), icon->category());
    EXPECT_EQ(read->symbol(), icon->symbol());
}

TEST(IconImage, DecodedIconsWithTheSameTextsAreOneObject)
{
    registerModelCodables();
    auto record = [](const QString& category) {
        auto made = std::make_shared<MemoryRecord>();
        made->className = QStringLiteral("IconImage");
        made->set(QStringLiteral("name"), QStringLiteral("shared one"));
        if (!category.isNull())
            made->set(QStringLiteral("category"), category);
        made->set(QStringLiteral("symbol"), QStringLiteral("\u2B50"));
        return made;
    };
    auto first = std::dynamic_pointer_cast<IconImage>(MemoryCoder::decode(record(QStringLiteral("Travel"))));
    auto second = std::dynamic_pointer_cast<IconImage>(MemoryCoder::decode(record(QStringLiteral("Travel"))));
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    // A missing category and an empty one are different icons.
    const auto missing = std::dynamic_pointer_cast<IconImage>(MemoryCoder::decode(record(QString())));
    const auto empty = std::dynamic_pointer_cast<IconImage>(MemoryCoder::decode(record(QStringLiteral(""))));
    EXPECT_NE(missing, first);
    EXPECT_NE(missing, empty);
    EXPECT_TRUE(missing->category().isNull());
    EXPECT_FALSE(empty->category().isNull());
    // Icons made in code are always new; a shared icon gone is made again.
    EXPECT_NE(IconImage::initWithName(first->name(), first->category(), first->symbol()), first);
    const std::weak_ptr<IconImage> watch = first;
    first.reset();
    second.reset();
    EXPECT_TRUE(watch.expired());
    const auto again = IconImage::sharedIcon(QStringLiteral("shared one"), QStringLiteral("Travel"),
                                             QStringLiteral("\u2B50"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->symbol(), QStringLiteral("\u2B50"));
    EXPECT_EQ(IconImage::sharedIcon(QStringLiteral("shared one"), QStringLiteral("Travel"),
                                    QStringLiteral("\u2B50")),
              again);
}

TEST(IconImage, DecodedWithoutASymbolItHasNoSymbolAndAnEmptyPicture)
{
    auto record = std::make_shared<MemoryRecord>();
    record->className = QStringLiteral("IconImage");
    record->set(QStringLiteral("name"), QStringLiteral("nameless"));
    registerModelCodables();
    const auto read = std::dynamic_pointer_cast<IconImage>(MemoryCoder::decode(record));
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->symbol().isNull());
    EXPECT_TRUE(read->category().isNull());
    EXPECT_EQ(read->name(), QStringLiteral("nameless"));
    EXPECT_TRUE(read->image().isNull());
    EXPECT_EQ(MemoryCoder::encode(*read)->keys(), QStringList{"name"});
}

TEST(IconImage, TheSymbolPictureIsASquareOfTwiceTheMeasuredSizePlusTwo)
{
    const QString symbol = QStringLiteral("\U0001F600");
    const PlatformImage image = IconImage::createSymbolImage(symbol);
    ASSERT_FALSE(image.isNull());

    AttributedString measured(symbol);
    measured.setFont(PlatformFont::fontWithName(QStringLiteral("Apple Color Emoji"), 20.0), 0, symbol.size());
    const Size size = measured.size();
    const float side = float(std::max(size.width, size.height) + 2.0);
    EXPECT_EQ(image.size(), Size(2.0 * side, 2.0 * side));
    EXPECT_GT(side, 20.0f);
    ASSERT_EQ(image.representations().size(), 1u);
    const QImage pixels = image.representations().front();
    EXPECT_EQ(pixels.width(), int(2.0 * side));

    // Something is drawn, in colour, and the border stays clear.
    int coloured = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
            const QColor c = pixels.pixelColor(x, y);
            if (c.alpha() > 0 && (c.red() != c.green() || c.green() != c.blue()))
                ++coloured;
        }
    }
    EXPECT_GT(coloured, 100);
    EXPECT_EQ(pixels.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(pixels.pixelColor(pixels.width() - 1, pixels.height() - 1).alpha(), 0);
    EXPECT_TRUE(pixels.save(QDir(test::testOutputDir()).filePath(QStringLiteral("icon-image-grinning.png"))));
}

TEST(IconImage, ThePictureIsMadeOnceWhateverThreadsAskFirst)
{
    const IconImagePtr icon = IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("Travel"),
                                                      QStringLiteral("\U0001F680"));
    constexpr int threads = 8;
    std::vector<qint64> keys(threads, 0);
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            ++ready;
            while (ready.load() < threads) {
            }
            const PlatformImage image = icon->image();
            keys[std::size_t(t)] = image.isNull() ? 0 : image.representations().front().cacheKey();
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_NE(keys[0], 0);
    for (int t = 1; t < threads; ++t)
        EXPECT_EQ(keys[std::size_t(t)], keys[0]) << "thread " << t << " got a picture of its own";
    EXPECT_EQ(icon->image().representations().front().cacheKey(), keys[0]);
}

TEST(IconImage, ASymbolOfSeveralCodePointsIsDrawnWhole)
{
    // A flag: two regional indicators, one glyph in the emoji face.
    const PlatformImage flag = IconImage::createSymbolImage(QStringLiteral("\U0001F1E9\U0001F1EA"));
    ASSERT_FALSE(flag.isNull());
    EXPECT_EQ(flag.size().width, flag.size().height);
    EXPECT_TRUE(IconImage::createSymbolImage(QString()).isNull());
    EXPECT_TRUE(IconImage::createSymbolImage(QStringLiteral("")).isNull());
}

// ---- PortableImage

TEST(PortableImage, CodesItsBytesAsTheSingleDataObject)
{
    const QByteArray bytes = QByteArrayLiteral("\x89PNG\r\n\x1a\n-not-really");
    const PortableImagePtr image = PortableImage::create(bytes);
    EXPECT_EQ(image->className(), QStringLiteral("PortableImage"));
    const auto record = MemoryCoder::encode(*image);
    EXPECT_TRUE(record->keys().isEmpty());
    EXPECT_EQ(record->dataObject, bytes);

    registerModelCodables();
    const auto read = std::dynamic_pointer_cast<PortableImage>(MemoryCoder::decode(record));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->image(), bytes);
    read->setImage(QByteArrayLiteral("other"));
    EXPECT_EQ(read->image(), QByteArrayLiteral("other"));

    auto empty = std::make_shared<MemoryRecord>();
    empty->className = QStringLiteral("PortableImage");
    const auto none = std::dynamic_pointer_cast<PortableImage>(MemoryCoder::decode(empty));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->image().isNull());
}
