#include "export/ImageExporter.h"
#include "export/WebExportPreview.h"
#include "model/ColorMatrix.h"
#include "overview/GraphTileFactory.h"
#include "tests/export/WebExportTestSupport.h"
#include "tests/factory/DocumentFactory.h"

#include <QDir>
#include <QImage>
#include <cmath>
#include <random>

namespace corvex {
namespace {

// A document-factory tree as ideas, index 0 the root.
std::vector<IdeaPtr> factoryIdeas(int count, quint32 seed)
{
    const std::vector<test::FactoryIdea> tree = test::makeDocumentTree(count, 6, seed);
    std::vector<IdeaPtr> made(tree.size());
    for (std::size_t i = 0; i < tree.size(); ++i) {
        made[i] = Idea::initWithText(tree[i].text, tree[i].identifier);
        if (!tree[i].colorName.isEmpty())
            made[i]->setColor(ColorMatrix::classicColorMatrix().colorWithName(tree[i].colorName));
    }
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (const int child : tree[i].children) {
            const bool added = made[i]->addIdea(made[std::size_t(child)]);
            EXPECT_TRUE(added);
        }
    return made;
}

void saveForReview(const QImage& image, const QString& name)
{
    const QString dir = test::testOutputDir() + QStringLiteral("/export");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

int channelGap(QRgb a, QRgb b)
{
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

TEST(ImageExporter, PlanetsLandWhereTheLayoutDrawsThemAndTransparencyOnlyDropsTheWhite)
{
    std::vector<IdeaPtr> ideas = factoryIdeas(300, 11);
    std::mt19937 random(11);
    std::vector<std::size_t> picked;
    while (picked.size() < 10) {
        const std::size_t i = 1 + random() % (ideas.size() - 1);
        if (std::find(picked.begin(), picked.end(), i) == picked.end())
            picked.push_back(i);
    }
    for (const std::size_t i : picked)
        ideas[i]->setText(QString());
    const IdeaPtr root = ideas.front();
    const QImage opaque = QImage::fromData(ImageExporter::generatePNGImageFromIdea(root, false));
    const QImage clear = QImage::fromData(ImageExporter::generatePNGImageFromIdea(root, true));
    ASSERT_FALSE(opaque.isNull());
    ASSERT_FALSE(clear.isNull());
    saveForReview(opaque, QStringLiteral("tree_300_white"));
    saveForReview(clear, QStringLiteral("tree_300_transparent"));

    const GraphTileFactory factory(root, nullptr, false);
    const Size content = factory.contentSize();
    const double zoom = std::min(ImageExporter::MaxWidth / content.width, 1.0);
    EXPECT_EQ(opaque.width(), int(std::floor(content.width * zoom + 1e-3)));
    EXPECT_NEAR(opaque.height(), content.height * zoom, 1.0);
    for (const std::size_t i : picked) {
        const Point location = factory.ideaLocation(ideas[i]);
        const Point at(location.x * zoom, location.y * zoom);
        const QRgb seen = opaque.pixel(int(at.x), int(at.y));
        const QRgb expected = ideas[i]->color()->uiColor().toQColor().rgb();
        EXPECT_LE(channelGap(seen, expected), 8)
            << ideas[i]->identifier().toStdString() << std::hex << " " << seen << " vs " << expected;
    }

    // Over white the transparent image is the opaque one.
    const QImage premultiplied = clear.convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    for (int y = 0; y < premultiplied.height(); y += 3)
        for (int x = 0; x < premultiplied.width(); x += 3) {
            const QRgb p = premultiplied.pixel(x, y);
            const double a = qAlpha(p) / 255.0;
            const auto over = [a](int c) { return int(std::lround(c * a + 255 * (1 - a))); };
            worst = std::max(
                worst, channelGap(qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p))), opaque.pixel(x, y)));
        }
    EXPECT_LE(worst, 2);
    const int w = clear.width() - 1;
    const int h = clear.height() - 1;
    for (const QPoint corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)}) {
        EXPECT_EQ(qAlpha(clear.pixel(corner)), 0);
        EXPECT_EQ(opaque.pixel(corner), qRgb(255, 255, 255));
    }
}

TEST(ImageExporter, AWideTreeIsCappedAt4096PixelsAndKeepsItsProportion)
{
    const std::vector<IdeaPtr> ideas = factoryIdeas(test::heavyScale(20000, 6000), 3);
    const GraphTileFactory factory(ideas.front(), nullptr, false);
    const Size content = factory.contentSize();
    ASSERT_GT(content.width, ImageExporter::MaxWidth);
    const QImage image = QImage::fromData(ImageExporter::generatePNGImageWithFactory(factory, false));
    ASSERT_FALSE(image.isNull());
    saveForReview(image.scaledToWidth(1024, Qt::SmoothTransformation), QStringLiteral("tree_wide_reduced"));
    EXPECT_EQ(image.width(), 4096);
    EXPECT_NEAR(image.height(), 4096 * content.height / content.width, 1.0);

    const QImage centred = QImage::fromData(ImageExporter::generatePNGImageFromCenteredIdea(ideas[1]));
    EXPECT_FALSE(centred.isNull());
    EXPECT_TRUE(ImageExporter::generatePNGImageFromIdea(nullptr, false).isEmpty());
}

TEST(ImageExporter, TheWebExportCarriesThePreviewOnceRegistered)
{
    registerWebExportPreview();
    const std::vector<IdeaPtr> ideas = factoryIdeas(30, 5);
    const QString zip = test::testDir() + QStringLiteral("/site.zip");
    const std::optional<bool> outcome = test::exportNow(ideas.front(), 1, zip, test::attachmentTable({}));
    WebExportPreview::registerRenderer({});
    ASSERT_EQ(outcome, std::optional<bool>(true));
    const QString folder = test::unpackWithUnzip(zip, QStringLiteral("site"));
    ASSERT_FALSE(folder.isEmpty());
    const QImage preview(folder + QStringLiteral("/files/preview.png"));
    ASSERT_FALSE(preview.isNull()) << test::filesBelow(folder).join(QLatin1Char(' ')).toStdString();
    saveForReview(preview, QStringLiteral("web_preview"));
    EXPECT_EQ(qAlpha(preview.pixel(0, 0)), 255);
}

} // namespace
} // namespace corvex
