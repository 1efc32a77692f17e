// The emoji catalogue: its parser on small files of our own, and the shipped catalogue
// against the emoji face that draws it.

#include "editor/IconImageCollection.h"

#include <QFontDatabase>
#include <QImage>
#include <QRawFont>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

QStringList names(const std::vector<IconImagePtr>* icons)
{
    QStringList list;
    if (icons) {
        for (const auto& icon : *icons)
            list << icon->name();
    }
    return list;
}

TEST(IconImageCollection, ParsesCategoriesAndIconsAsTheFileHasThem)
{
    const auto c = IconImageCollection::fromText("a;Lead;x;1\n"
                                                 "#Empty\n"
                                                 "#First\n"
                                                 "b;Bee;x;2\n"
                                                 "c;Short;x\n"
                                                 "\n"
                                                 "d;Dee;x;4;extra\n"
                                                 "# Spaced \n"
                                                 "e;Eee;x;5\n"
                                                 "#First\n"
                                                 "f;Eff;x;6");
    EXPECT_EQ(c->categories(), (QStringList{"UNKNOWN", "First", " Spaced ", "First"}));
    EXPECT_EQ(names(c->iconImagesByCategory(QStringLiteral("UNKNOWN"))), QStringList{"Lead"});
    // A repeated name keeps its last block; the file's end closes the last category.
    EXPECT_EQ(names(c->iconImagesByCategory(QStringLiteral("First"))), QStringList{"Eff"});
    EXPECT_EQ(names(c->iconImagesByCategory(QStringLiteral(" Spaced "))), QStringList{"Eee"});
    EXPECT_EQ(c->iconImagesByCategory(QStringLiteral("Empty")), nullptr);
    const IconImagePtr dee = IconImageCollection::fromText("#K\nd;Dee;x;4;extra\n")
                                 ->iconImagesByCategory(QStringLiteral("K"))
                                 ->front();
    EXPECT_EQ(dee->symbol(), QStringLiteral("d"));
    EXPECT_EQ(dee->category(), QStringLiteral("K"));
    EXPECT_TRUE(IconImageCollection::fromText(QByteArray())->categories().isEmpty());
}

TEST(IconImageCollection, TheShippedCatalogueIsDrawnByTheEmojiFace)
{
    const auto catalogue = IconImageCollection::instance();
    ASSERT_GE(catalogue->categories().size(), 8);
    const QRawFont face(QStringLiteral("/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf"), 20);
    ASSERT_TRUE(face.isValid());
    int icons = 0;
    for (const QString& category : catalogue->categories()) {
        for (const IconImagePtr& icon : *catalogue->iconImagesByCategory(category)) {
            ++icons;
            for (const char32_t cp : icon->symbol().toUcs4()) {
                if (cp == 0x200D || (cp >= 0xFE00 && cp <= 0xFE0F))
                    continue;
                EXPECT_TRUE(face.supportsCharacter(uint(cp))) << icon->name().toStdString();
            }
            const QImage image =
                icon->image().representations().front().convertToFormat(QImage::Format_ARGB32);
            bool coloured = false;
            for (int y = 0; y < image.height() && !coloured; ++y) {
                for (int x = 0; x < image.width() && !coloured; ++x) {
                    const QColor p = image.pixelColor(x, y);
                    coloured = p.alpha() > 128 &&
                               (std::abs(p.red() - p.green()) > 24 || std::abs(p.green() - p.blue()) > 24);
                }
            }
            EXPECT_TRUE(coloured) << icon->name().toStdString();
        }
    }
    EXPECT_GE(icons, 200);
    IconImageCollection::stopPreloading();
}

} // namespace
} // namespace corvex::test
