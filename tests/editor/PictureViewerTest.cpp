// The picture viewer: zoom and centring on its own, and through the real mind-map screen a
// picture changed from a scripted open panel, read back from the stored document.

#include "editor/PictureClipView.h"
#include "editor/PictureView.h"
#include "editor/PictureViewController.h"
#include "editor/ViewerEditorFactory.h"
#include "mindmap/NoteHoverUtility.h"
#include "model/Idea.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/ProgressHUD.h"
#include "toolkit/TextView.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// A picture whose four corners carry their own colours.
QImage markedPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    const int m = std::max(1, std::min(width, height) / 8);
    const auto corner = [&](int x, int y, QColor colour) {
        for (int dy = 0; dy < m; ++dy)
            for (int dx = 0; dx < m; ++dx)
                image.setPixelColor(x + dx, y + dy, colour);
    };
    corner(0, 0, Qt::red);
    corner(width - m, 0, Qt::green);
    corner(0, height - m, Qt::blue);
    corner(width - m, height - m, Qt::yellow);
    return image;
}

bool containsColour(const QImage& image, QColor colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 24 && std::abs(c.green() - colour.green()) < 24 &&
                std::abs(c.blue() - colour.blue()) < 24)
                return true;
        }
    return false;
}

class DismissalCounter : public PictureViewerDelegate
{
public:
    void pleaseDismissPictureView(ViewController&) override { ++count; }
    int count = 0;
};

struct PictureWindow
{
    PictureWindow()
    {
        window = Window::create(Size(600, 400));
        view = PictureView::create();
        view->setFrame(Rect(0, 0, 600, 400));
        window->setContentView(view);
    }
    ScopedVirtualTime time;
    std::shared_ptr<Window> window;
    std::shared_ptr<PictureView> view;
};

TEST(PictureView, OpensFittedZoomsWithScrollersAndFitsAgain)
{
    PictureWindow w;
    w.view->setImage(PlatformImage(markedPicture(3000, 2000)));
    // Fitted: 600 / 3000 = 0.2, below the default minimum, which is lowered for it.
    EXPECT_DOUBLE_EQ(w.view->scrollView()->magnification(), 0.2);
    EXPECT_DOUBLE_EQ(w.view->scrollView()->minMagnification(), 0.2);
    EXPECT_FALSE(w.view->scrollView()->isVerticalScrollerShown());
    EXPECT_FALSE(w.view->canZoomToActualSize()) << "at the fitting zoom";
    EXPECT_FALSE(w.view->canZoomOut()) << "at the lowered minimum";

    w.view->keyDown(Event::keyDown(QStringLiteral("+"), Event::KeyCodeUnknown, Event::CommandKeyMask));
    EXPECT_NEAR(w.view->scrollView()->magnification(), 0.3, 1e-9);
    EXPECT_TRUE(w.view->scrollView()->isHorizontalScrollerShown());
    EXPECT_TRUE(w.view->canZoomToActualSize());
    for (int i = 0; i < 12; ++i)
        w.view->zoomIn();
    EXPECT_DOUBLE_EQ(w.view->scrollView()->magnification(), ScrollView::DefaultMaxMagnification);
    EXPECT_FALSE(w.view->canZoomIn());
    const auto menu = w.view->menuForEvent(Event::keyDown(QStringLiteral("x")));
    ASSERT_EQ(menu->items().size(), 4u);
    EXPECT_TRUE(menu->items()[0]->isSeparator());
    EXPECT_EQ(menu->items()[1]->title(), QStringLiteral("Zoom In"));
    EXPECT_FALSE(menu->items()[1]->isEnabled());
    EXPECT_TRUE(menu->items()[3]->isEnabled()) << "Zoom to Fit";

    w.view->keyDown(Event::keyDown(QStringLiteral("9"), Event::KeyCodeUnknown, Event::CommandKeyMask));
    EXPECT_DOUBLE_EQ(w.view->scrollView()->magnification(), 0.2);
    EXPECT_FALSE(w.view->scrollView()->isHorizontalScrollerShown());
    // Without Command the keys do nothing here.
    w.view->keyDown(Event::keyDown(QStringLiteral("+")));
    EXPECT_DOUBLE_EQ(w.view->scrollView()->magnification(), 0.2);

    const QImage shot = w.window->renderToImage(1);
    shot.save(QDir(testOutputDir()).filePath(QStringLiteral("picture-viewer-fitted.png")));
    for (QColor c : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue), QColor(Qt::yellow)})
        EXPECT_TRUE(containsColour(shot, c)) << c.name().toStdString();
}

TEST(PictureView, SmallPictureStaysCentredAndEmptyPicturesChangeNothing)
{
    PictureWindow w;
    w.view->setImage(PlatformImage(markedPicture(40, 20)));
    // Fitting would be 10: clamped to the maximum, the picture 160 x 80 in the middle.
    EXPECT_DOUBLE_EQ(w.view->scrollView()->magnification(), 4.0);
    const Rect image = w.view->imageView()->frame();
    const Rect visible = w.view->scrollView()->contentView()->scaledBounds();
    EXPECT_NEAR(image.midX() - visible.origin.x, visible.size.width / 2, 1.0);
    EXPECT_NEAR(image.midY() - visible.origin.y, visible.size.height / 2, 1.0);

    const auto scroll = w.view->scrollView();
    w.view->setImage(PlatformImage());
    w.view->setImage(PlatformImage(QImage(0, 0, QImage::Format_RGB32)));
    EXPECT_EQ(w.view->scrollView(), scroll);
    EXPECT_DOUBLE_EQ(w.view->scrollView()->magnification(), 4.0);
}

TEST(PictureViewController, SpinnerOnlyForSlowLoadersAndPlaceholderForNoPicture)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(500, 400));
    PictureViewer::ImageCompletion pending;
    auto slow = PictureViewController::initWithDelegate(
        {}, [&pending](PictureViewer::ImageCompletion completion) { pending = std::move(completion); });
    window->setContentView(slow->view());
    time.advance(0.3);
    EXPECT_FALSE(slow->activityIndicator());
    time.advance(0.2);
    EXPECT_TRUE(slow->activityIndicator()) << "after 0.4 s";
    pending(QVImage());
    time.runDue(); // the loader's answer is heard on a later turn
    EXPECT_FALSE(slow->activityIndicator());
    ASSERT_TRUE(slow->placeholderView());
    EXPECT_EQ(slow->placeholderView()->text(), QStringLiteral("Could not load attachment"));
    EXPECT_FALSE(slow->changedImage().hasImage());

    auto dismissals = std::make_shared<DismissalCounter>();
    auto quick =
        PictureViewController::initWithDelegate(dismissals, [](PictureViewer::ImageCompletion completion) {
            completion(QVImage(markedPicture(20, 20)));
        });
    window->setContentView(quick->view());
    time.advance(1.0);
    EXPECT_FALSE(quick->activityIndicator());
    EXPECT_FALSE(quick->placeholderView());
    EXPECT_EQ(quick->pictureView()->image().size(), Size(20, 20));
    // Escape, pressed on the picture, reaches the viewer through the responder chain.
    quick->pictureView()->keyDown(Event::keyDown(QStringLiteral("\x1b")));
    EXPECT_EQ(dismissals->count, 1);
    EXPECT_FALSE(quick->changedImage().hasImage());
}

TEST(PictureViewerScreen, APickedFileBecomesTheIdeasPictureAndOtherFilesChangeNothing)
{
    EditorScreen s;
    registerViewerEditors();
    // The note-hover factory registered with the editors stays with this test.
    const std::shared_ptr<void> unregister(nullptr, [](void*) { NoteHoverUtility::setFactory({}); });
    ASSERT_TRUE(NoteHoverUtility::hasFactory());
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("big.png"));
    ASSERT_TRUE(markedPicture(3000, 2000).save(good));
    // A text file named like a picture, a PNG cut short, one whose header claims 10^10 pixels.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        markedPicture(40, 30).save(&buffer, "PNG");
    }
    QByteArray huge = png;
    qToBigEndian(quint32(100000), huge.data() + 16);
    qToBigEndian(quint32(100000), huge.data() + 20);
    const QList<QPair<QString, QByteArray>> badFiles{{QStringLiteral("x.png"), "just some words, no picture"},
                                                     {QStringLiteral("cut.png"), png.left(png.size() / 2)},
                                                     {QStringLiteral("huge.png"), huge}};
    for (const auto& [name, bytes] : badFiles) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(markedPicture(16, 16)), ObjectID());
    ASSERT_TRUE(s.document->idea()->insertIdea(picture, 0));

    // None of them changes anything, on screen or on disk.
    s.rig.settle(*s.screen);
    QFile documentFile(s.path());
    ASSERT_TRUE(documentFile.open(QIODevice::ReadOnly));
    const QByteArray storedBefore = documentFile.readAll();
    documentFile.close();
    s.screen->doEditImageIdea(picture);
    auto viewer =
        std::dynamic_pointer_cast<PictureViewController>(s.screen->presentedViewControllers().back());
    ASSERT_TRUE(viewer);
    s.pump(1.0);
    const Size shown = viewer->pictureView()->image().size();
    for (const auto& bad : badFiles) {
        s.rig.filePanels->answerOK({QUrl::fromLocalFile(dir.filePath(bad.first))});
        viewer->pleaseStartImageChange();
        s.pump(0.1);
        EXPECT_FALSE(viewer->changedImage().hasImage()) << bad.first.toStdString();
        EXPECT_EQ(viewer->pictureView()->image().size(), shown) << bad.first.toStdString();
    }
    viewer->finish();
    s.rig.settle(*s.screen);
    EXPECT_TRUE(picture->att().isNull());
    ASSERT_TRUE(documentFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(documentFile.readAll(), storedBefore);
    documentFile.close();

    s.screen->doEditImageIdea(picture);
    viewer = std::dynamic_pointer_cast<PictureViewController>(s.screen->presentedViewControllers().back());
    ASSERT_TRUE(viewer);
    s.pump(1.0);
    s.rig.filePanels->answerOK({QUrl::fromLocalFile(good)});
    viewer->pleaseStartImageChange();
    ASSERT_EQ(s.rig.filePanels->presented().size(), 4u);
    EXPECT_EQ(s.rig.filePanels->presented().back().panel.allowedFileTypes,
              QStringList({"png", "jpg", "tiff", "jpeg", "gif"}));
    s.pump(0.5);
    ASSERT_TRUE(viewer->changedImage().hasImage());
    const QImage shot = s.rig.window->renderToImage(1);
    shot.save(QDir(testOutputDir()).filePath(QStringLiteral("picture-viewer-screen.png")));
    for (QColor c : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue), QColor(Qt::yellow)})
        EXPECT_TRUE(containsColour(shot, c)) << "whole picture shown: " << c.name().toStdString();

    // Zoomed in, the picture stays inside its area: the top strip keeps its colour.
    const QColor strip = shot.pixelColor(shot.width() / 2, 3);
    for (int i = 0; i < 4; ++i)
        viewer->pictureView()->zoomIn();
    const QImage zoomed = s.rig.window->renderToImage(1);
    zoomed.save(QDir(testOutputDir()).filePath(QStringLiteral("picture-viewer-zoomed.png")));
    EXPECT_EQ(zoomed.pixelColor(zoomed.width() / 2, 3), strip);
    EXPECT_FALSE(containsColour(zoomed, Qt::yellow)) << "only the middle of the picture shows";

    viewer->finish();
    ASSERT_TRUE(s.rig.settle([&] { return !picture->att().isNull(); }));
    s.rig.settle(*s.screen);
    // The attachment on disk holds the file's pixels; the stored tree names it.
    std::optional<QVImage> attached;
    s.document->fetchImageForIdea(picture, [&attached](const QVImage& image) { attached = image; });
    ASSERT_TRUE(s.rig.settle([&] { return attached.has_value(); }));
    ASSERT_EQ(attached->pixelSize(), Size(3000, 2000));
    EXPECT_EQ(attached->cgImage().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(attached->cgImage().pixelColor(2999, 1999), QColor(Qt::yellow));
    const IdeaPtr stored = readStoredTree(s.path());
    ASSERT_TRUE(stored);
    ASSERT_FALSE(stored->ideas().empty());
    EXPECT_EQ(stored->ideas().front()->att(), picture->att());
}

} // namespace
} // namespace corvex::test
