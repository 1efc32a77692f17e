#include "export/ImageExporter.h"
#include "graphics/PictureCache.h"
#include "graphics/QVImage.h"
#include "model/Idea.h"
#include "overview/MindMapToPDF.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/overview/OverviewTestSupport.h"
#include "tests/overview/PrintTestSupport.h"

#include <QImage>
#include <QRegularExpression>
#include <functional>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// The widest picture a PDF holds, as pdfimages lists them.
int widestPdfImage(const QByteArray& pdf)
{
    const ProgramRun run = runProgramToEnd(QStringLiteral("pdfimages"),
                                           {QStringLiteral("-list"), writtenPdf(pdf, "large-picture")});
    EXPECT_TRUE(run.ran && run.exitCode == 0) << run.output.constData();
    static const QRegularExpression row(QStringLiteral("^\\s*\\d+\\s+\\d+\\s+image\\s+(\\d+)\\s+(\\d+)"),
                                        QRegularExpression::MultilineOption);
    int widest = 0;
    for (auto it = row.globalMatch(QString::fromUtf8(run.output)); it.hasNext();)
        widest = std::max(widest, it.next().captured(1).toInt());
    return widest;
}

} // namespace

// A 4096-pixel picture, a sixteenth of a gigabyte whole, goes into every output at the size
// that output draws it at, and is never decoded whole for it.
TEST(LargePictureOutput, EachOutputDecodesThePictureAtTheSizeItDrawsIt)
{
    QImage red(4096, 4096, QImage::Format_RGB32);
    red.fill(QColor(210, 30, 30));
    std::vector<FactoryIdea> tree(2);
    tree[0].identifier = QStringLiteral("idRoot");
    tree[0].text = QStringLiteral("Root");
    tree[0].children = {1};
    tree[1].identifier = QStringLiteral("idBeach");
    tree[1].text = QStringLiteral("Beach");
    tree[1].parent = 0;
    tree[1].picture = ImageCodec::encodePNG(red);
    const IdeaPtr root = documentTree(tree);
    ASSERT_TRUE(root);
    const QVImage& picture = root->ideas().front()->image();
    ASSERT_EQ(picture.pixelSize(), Size(4096, 4096));

    const struct
    {
        const char* name;
        std::function<void()> use;
        qint64 keptBytes; // at most, in the picture cache afterwards
    } cases[] = {
        {"png export",
         [&] {
             const QImage png = QImage::fromData(ImageExporter::generatePNGImageFromIdea(root, false));
             ASSERT_FALSE(png.isNull());
             const GraphTileFactory factory(root, nullptr, false);
             const Point at = factory.ideaLocation(root->ideas().front());
             EXPECT_EQ(png.pixelColor(int(at.x), int(at.y)).red(), 210);
         },
         qint64(128 * 128 * 4)},
        {"pdf export at print resolution",
         [&] {
             // A planet about 112 points across: 467 dots at 300 an inch, 149 at the screen's 96.
             const int widest = widestPdfImage(MindMapToPDF(root, QDateTime()).generatePDF());
             EXPECT_GT(widest, 256) << "printed at the screen's resolution";
             EXPECT_LT(widest, 4096) << "printed whole";
         },
         qint64(1024 * 1024 * 4)},
        {"the small picture made from it",
         [&] {
             const IdeaPtr idea = Idea::initWithText(QString(), QStringLiteral("small"));
             idea->updateImage(picture, ObjectID());
             EXPECT_EQ(idea->image().pixelSize(), Size(Idea::SmallPictureSize, Idea::SmallPictureSize));
             const QColor middle = idea->image().cgImage().pixelColor(80, 80); // desaturated
             EXPECT_GT(middle.red(), middle.green() + 60);
         },
         qint64(512 * 512 * 4)},
        {"drawn into a rectangle",
         [&] {
             const std::unique_ptr<GraphicsContext> bitmap =
                 QVImage::createBitmapContextForSize(Size(100, 100));
             picture.drawInRect(Rect(0, 0, 100, 100), bitmap.get());
             EXPECT_EQ(bitmap->makeImage().pixelColor(50, 50).red(), 210);
         },
         qint64(128 * 128 * 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PictureCache::shared().clear();
        const quint64 before = ImageCodec::decodeCount();
        c.use();
        EXPECT_GT(ImageCodec::decodeCount(), before);
        EXPECT_FALSE(picture.isDecoded()) << "decoded whole";
        EXPECT_LE(PictureCache::shared().bytes(), c.keptBytes);
    }
}

} // namespace corvex::test
