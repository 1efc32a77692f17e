// Ideas without a colour of their own, drawn by every exporter and the overview: each shows
// the colour its place gives it, and the tree keeps no colour.

#include "export/ImageExporter.h"
#include "export/WebExportRecord.h"
#include "model/ColorTheme.h"
#include "model/DrawnColor.h"
#include "overview/GraphTileFactory.h"
#include "overview/MindMapToPDF.h"
#include "tests/overview/PrintTestSupport.h"

#include <QImage>
#include <gtest/gtest.h>

namespace corvex {
namespace {

struct ColourlessTree
{
    IdeaPtr root;
    std::vector<std::pair<IdeaPtr, ColorPtr>> expected; // each idea with the colour it shows
};

// root (none, varying) > a (none), b (blue2, lighter) > b0, b1 (none); c (none). No titles,
// so that each planet's middle shows its disc.
ColourlessTree colourlessTree()
{
    const auto& greens = ColorTheme::standardThemes().front()->colors();
    const ColorPtr blue2 = ColorTheme::colorByName(QStringLiteral("blue2"));
    ColourlessTree tree;
    tree.root = Idea::initWithText(QString(), QStringLiteral("root"));
    tree.root->setColorThemeType(ColorThemeTypeVaryingColors);
    const IdeaPtr a = Idea::initWithText(QString(), QStringLiteral("a"));
    const IdeaPtr b = Idea::initWithText(QString(), QStringLiteral("b"));
    b->setColor(blue2);
    b->setColorThemeType(ColorThemeTypeLighterColor);
    const IdeaPtr c = Idea::initWithText(QString(), QStringLiteral("c"));
    for (const IdeaPtr& child : {a, b, c})
        EXPECT_TRUE(tree.root->addIdea(child));
    const IdeaPtr b0 = Idea::initWithText(QString(), QStringLiteral("b0"));
    const IdeaPtr b1 = Idea::initWithText(QString(), QStringLiteral("b1"));
    EXPECT_TRUE(b->addIdea(b0) && b->addIdea(b1));
    tree.expected = {{tree.root, greens[0]},
                     {a, greens[0]},
                     {b, blue2},
                     {b0, blue2->theme()->colors()[0]},
                     {b1, blue2->theme()->colors()[1]},
                     {c, greens[2]}};
    return tree;
}

int gap(const QColor& a, const QColor& b)
{
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

TEST(ColourlessIdeas, TheOverviewPngPdfAndWebExportShowThePlacesColours)
{
    const ColourlessTree tree = colourlessTree();
    for (const auto& [idea, colour] : tree.expected)
        ASSERT_EQ(DrawnColor::ofIdea(*idea), colour) << idea->identifier().toStdString();

    const GraphTileFactory factory(tree.root, nullptr, false);
    const Size content = factory.contentSize();
    const QImage overview = factory.createTile(Rect(Point(), content), content);
    const QImage png = QImage::fromData(ImageExporter::generatePNGImageFromIdea(tree.root, false));
    ASSERT_EQ(png.size(), overview.size());
    MindMapToPDF exporter(tree.root, QDateTime());
    const QImage pdf = test::pdfRaster(test::writtenPdf(exporter.generatePDF(), QStringLiteral("colourless")),
                                       1, 144, QStringLiteral("colourless_map"));
    ASSERT_FALSE(pdf.isNull());
    const Value record = WebExportRecord::exportIdea(*tree.root);
    std::map<QString, QString> webColours;
    std::vector<const Value*> records{&record};
    while (!records.empty()) {
        const Value* current = records.back();
        records.pop_back();
        webColours[current->value(QStringLiteral("identifier")).toString()] =
            current->value(QStringLiteral("bgcolor")).toString();
        for (const Value& child : current->value(QStringLiteral("ideas")).toArray())
            records.push_back(&child);
    }

    for (const auto& [idea, colour] : tree.expected) {
        SCOPED_TRACE(idea->identifier().toStdString());
        const QColor wanted = colour->uiColor().toQColor();
        const Point at = factory.ideaLocation(idea);
        const QPoint pixel(int(at.x), int(at.y));
        EXPECT_LE(gap(overview.pixelColor(pixel), wanted), 8)
            << qPrintable(overview.pixelColor(pixel).name());
        EXPECT_LE(gap(png.pixelColor(pixel), wanted), 8) << qPrintable(png.pixelColor(pixel).name());
        const QColor printed = pdf.pixelColor(test::mapPagePixel(factory, at, 144));
        EXPECT_LE(gap(printed, wanted), 24) << qPrintable(printed.name());
        EXPECT_EQ(webColours[idea->identifier()], WebExportRecord::hexStringForColor(*colour));
    }
    for (const auto& entry : tree.expected)
        EXPECT_EQ(entry.first->color(),
                  entry.first->identifier() == QLatin1String("b") ? entry.second : nullptr);
}

} // namespace
} // namespace corvex
