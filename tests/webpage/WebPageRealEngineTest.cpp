// The web-link editor on the real Qt WebEngine, under Xvfb, against a cpp-httplib server
// on 127.0.0.1 (no other host is contacted): an address typed without scheme that
// redirects, the capture of a tall and of a wide page, a refused connection with and
// without the missing page, and an edit through the mind-map screen that reaches the disk.

#include "editor/HTMLPageViewController.h"
#include "editor/ViewerEditorFactory.h"
#include "model/Idea.h"
#include "platform/ui/Window.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/SearchTextField.h"
#include "webpage/QtWebPageView.h"

#include "tests/webpage/LoopbackPageServer.h"
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>

#include <httplib.h>
#include <thread>

namespace corvex::test {
namespace {

// Pumps Qt for real time; a virtual clock, when one is installed, follows it.
bool waitFor(const std::function<bool()>& predicate, double seconds = 20.0)
{
    QDeadlineTimer deadline(qint64(seconds * 1000));
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
        if (auto* virtualTime = dynamic_cast<VirtualScheduler*>(&Scheduler::current()))
            virtualTime->advance(0.02);
    }
    return true;
}

// The pages: "/a" redirects to "/b", a page whose top square is red and the rest blue;
// "/w" is twice as wide as the window, its left half green and its right half yellow.
class PageServer : public LoopbackPageServer
{
public:
    PageServer()
    {
        server().Get("/a", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/b"); });
        server().Get("/b", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<!DOCTYPE html><html><body style='margin:0'>"
                            "<div style='width:100%;height:100vw;background:#ff0000'></div>"
                            "<div style='width:100%;height:20000px;background:#0000ff'></div></body></html>",
                            "text/html");
        });
        server().Get("/w", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(
                "<!DOCTYPE html><html style='height:100%'><body style='margin:0;height:100%;"
                "width:2400px;display:flex'><div style='width:1200px;height:100%;background:#00ff00'>"
                "</div><div style='width:1200px;height:100%;background:#ffff00'></div></body></html>",
                "text/html");
        });
        start();
    }
};

// The real page view, counting what is asked of it; its drawings can be made to fail.
class CountingPageView : public WebPageView,
                         public WebPageViewClient,
                         public std::enable_shared_from_this<CountingPageView>
{
public:
    CountingPageView() : mInner(std::make_shared<QtWebPageView>()) {}
    void attach() { mInner->setClient(weak_from_this()); }

    std::shared_ptr<View> view() override { return mInner->view(); }
    void setClient(std::weak_ptr<WebPageViewClient> client) override { mClient = std::move(client); }
    void loadBypassingCaches(const QUrl& url) override
    {
        ++loads;
        mInner->loadBypassingCaches(url);
    }
    bool canGoBack() const override { return mInner->canGoBack(); }
    void goBack() override { mInner->goBack(); }
    QUrl mainDocumentURL() const override { return mInner->mainDocumentURL(); }
    Size contentsSize() const override { return mInner->contentsSize(); }
    void renderTopOfPage(Size area, CaptureCompletion completion) override
    {
        if (failDrawing) {
            completion(QImage());
            return;
        }
        mInner->renderTopOfPage(area, std::move(completion));
    }
    void loadBlankPage() override
    {
        ++loads;
        mInner->loadBlankPage();
    }
    void webPageDidStartLoading(WebPageView&) override
    {
        if (auto c = mClient.lock())
            c->webPageDidStartLoading(*this);
    }
    void webPageDidFinishLoading(WebPageView&) override
    {
        if (auto c = mClient.lock())
            c->webPageDidFinishLoading(*this);
    }
    void webPageDidFailLoading(WebPageView&) override
    {
        if (auto c = mClient.lock())
            c->webPageDidFailLoading(*this);
    }

    static inline std::atomic<int> loads{0};
    static inline bool failDrawing = false;

private:
    std::shared_ptr<QtWebPageView> mInner;
    std::weak_ptr<WebPageViewClient> mClient;
};

void useCountingPageViews()
{
    CountingPageView::loads = 0;
    CountingPageView::failDrawing = false;
    WebPageView::setFactory([] {
        auto page = std::make_shared<CountingPageView>();
        page->attach();
        return page;
    });
}

class Dismissals : public WebLinkEditorDelegate
{
public:
    void pleaseDismissHTMLPageView(ViewController&) override { ++count; }
    int count = 0;
};

struct EditorWindow
{
    EditorWindow()
    {
        useCountingPageViews();
        window = Window::create(Size(800, 600));
        window->makeKeyAndOrderFront();
    }
    ~EditorWindow()
    {
        window->close();
        WebPageView::setFactory({});
        HTMLPageViewController::setResourceLookup({});
    }
    std::shared_ptr<HTMLPageViewController> open()
    {
        auto editor = HTMLPageViewController::initWithDelegate(delegate, QString());
        window->setContentView(editor->view());
        editor->viewDidAppear();
        return editor;
    }
    // Types into the live field and presses Return, as the user does.
    static void typeAndReturn(HTMLPageViewController& editor, const QString& text)
    {
        QLineEdit* line = editor.searchTextField()->lineEdit();
        ASSERT_TRUE(line);
        line->setFocus();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<Dismissals> delegate = std::make_shared<Dismissals>();
};

std::string describe(const HTMLPageViewController& editor)
{
    return QStringLiteral("field state %1, page state %2, %3 loads, text \"%4\", document %5")
        .arg(editor.searchFieldState())
        .arg(editor.webViewState())
        .arg(CountingPageView::loads.load())
        .arg(editor.searchTextField()->text(),
             editor.webView() ? editor.webView()->mainDocumentURL().toString() : QString())
        .toStdString();
}

bool allPixels(const QImage& image, QColor colour, int fromX, int toX)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = fromX; x < toX; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) > 8 || std::abs(c.green() - colour.green()) > 8 ||
                std::abs(c.blue() - colour.blue()) > 8)
                return false;
        }
    return true;
}

TEST(WebPageRealEngine, ARedirectedAddressWithoutSchemeAndItsPictures)
{
    PageServer server;
    EditorWindow w;
    auto editor = w.open();
    EditorWindow::typeAndReturn(*editor, server.address("/a"));
    ASSERT_TRUE(waitFor([&] { return editor->searchFieldState() == HTMLPageViewController::StatePageShown; }))
        << describe(*editor);
    editor->actionButtonPressed();
    ASSERT_TRUE(waitFor([&] { return editor->isDismissed(); }));
    EXPECT_EQ(editor->resultURL(), QStringLiteral("http://%1").arg(server.address("/b")));
    const QImage tall = editor->resultPageImage().cgImage();
    tall.save(QDir(testOutputDir()).filePath(QStringLiteral("web-capture-tall.png")));
    ASSERT_EQ(tall.width(), 64);
    EXPECT_EQ(tall.height(), 64);
    EXPECT_TRUE(allPixels(tall, QColor(255, 0, 0), 0, 64)) << "only the red top square";

    auto wide = w.open();
    EditorWindow::typeAndReturn(*wide, server.address("/w"));
    ASSERT_TRUE(waitFor([&] { return wide->searchFieldState() == HTMLPageViewController::StatePageShown; }));
    wide->actionButtonPressed();
    ASSERT_TRUE(waitFor([&] { return wide->isDismissed(); }));
    const QImage picture = wide->resultPageImage().cgImage();
    picture.save(QDir(testOutputDir()).filePath(QStringLiteral("web-capture-wide.png")));
    ASSERT_EQ(picture.width(), 64);
    EXPECT_LT(picture.height(), 64);
    EXPECT_TRUE(allPixels(picture, QColor(0, 255, 0), 0, 30)) << "left half green";
    EXPECT_TRUE(allPixels(picture, QColor(255, 255, 0), 34, 64)) << "right half yellow";
}

TEST(WebPageRealEngine, AClosedPortShowsTheMissingPageAndAMissingPageStopsAtTwoLoads)
{
    // A port that was free a moment ago and that nobody listens on.
    quint16 closed = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closed = probe.serverPort();
    }
    EditorWindow w;
    auto editor = w.open();
    const QString typed = QStringLiteral("127.0.0.1:%1/x").arg(closed);
    EditorWindow::typeAndReturn(*editor, typed);
    ASSERT_TRUE(waitFor([&] {
        return editor->webViewState() == HTMLPageViewController::WebViewFinished &&
               editor->searchFieldState() == HTMLPageViewController::StateAddressTyped;
    }));
    EXPECT_EQ(editor->searchTextField()->text(), typed);
    EXPECT_TRUE(editor->webView()->mainDocumentURL().toString().startsWith(QStringLiteral("qrc:")));

    HTMLPageViewController::setResourceLookup([](const QString&, const QString&) { return QUrl(); });
    CountingPageView::loads = 0;
    auto bare = w.open();
    EditorWindow::typeAndReturn(*bare, typed);
    ASSERT_TRUE(waitFor([&] { return bare->webViewState() == HTMLPageViewController::WebViewFinished; }));
    waitFor([] { return false; }, 0.3);
    EXPECT_LE(CountingPageView::loads.load(), 2);
    EXPECT_EQ(bare->searchFieldState(), HTMLPageViewController::StateAddressTyped);
}

TEST(WebPageRealEngine, ALinkChangedOnTheMindMapScreenReachesTheDisk)
{
    PageServer server;
    MindMapScreenRig rig;
    EditorFactory::setCurrent(std::make_shared<ViewerEditorFactory>());
    useCountingPageViews();
    QImage oldPicture(32, 32, QImage::Format_RGB32);
    oldPicture.fill(Qt::darkCyan);
    const IdeaPtr link = Idea::initWithURL(QStringLiteral("http://127.0.0.1:1/old"), QVImage(oldPicture));
    const IdeaPtr root = treeFromOutline(QStringLiteral("root(a)"));
    ASSERT_TRUE(root->insertIdea(link, 0));
    qint64 token = 0;
    auto document = rig.createDocument(root, token);
    auto screen = rig.showDocument(document, token);

    const auto changeTo = [&](const QString& address) -> std::shared_ptr<HTMLPageViewController> {
        screen->doEditURLIdea(link);
        auto editor =
            std::dynamic_pointer_cast<HTMLPageViewController>(screen->presentedViewControllers().back());
        if (!editor)
            return nullptr;
        editor->searchTextField()->setText(address);
        editor->controlTextDidChange();
        editor->actionButtonPressed();
        if (!waitFor([&] { return editor->searchFieldState() == HTMLPageViewController::StatePageShown; }))
            return nullptr;
        editor->actionButtonPressed();
        waitFor([&] { return editor->isDismissed(); });
        return editor;
    };

    const auto first = changeTo(server.address("/b"));
    ASSERT_TRUE(first);
    first->resultPageImage().cgImage().save(
        QDir(testOutputDir()).filePath(QStringLiteral("web-capture-screen.png")));
    ASSERT_TRUE(rig.settle(*screen));
    IdeaPtr stored = readStoredTree(storedPath(*document));
    ASSERT_TRUE(stored && !stored->ideas().empty());
    EXPECT_EQ(stored->ideas().front()->URL(), QStringLiteral("http://%1").arg(server.address("/b")));
    const QImage red = stored->ideas().front()->image().cgImage();
    red.save(QDir(testOutputDir()).filePath(QStringLiteral("web-capture-stored.png")));
    ASSERT_FALSE(red.isNull());
    // The model keeps its own rendition of the picture: still the page's red.
    const QColor middle = red.pixelColor(red.width() / 2, red.height() / 2);
    EXPECT_TRUE(middle.red() > 150 && middle.green() < 60 && middle.blue() < 60)
        << middle.name().toStdString();

    // A capture that fails keeps the picture and changes only the address.
    CountingPageView::failDrawing = true;
    ASSERT_TRUE(changeTo(server.address("/w")));
    ASSERT_TRUE(rig.settle(*screen));
    stored = readStoredTree(storedPath(*document));
    ASSERT_TRUE(stored && !stored->ideas().empty());
    EXPECT_EQ(stored->ideas().front()->URL(), QStringLiteral("http://%1").arg(server.address("/w")));
    const QImage kept = stored->ideas().front()->image().cgImage();
    ASSERT_FALSE(kept.isNull());
    EXPECT_EQ(kept.pixelColor(kept.width() / 2, kept.height() / 2),
              red.pixelColor(red.width() / 2, red.height() / 2));
    WebPageView::setFactory({});
}

} // namespace
} // namespace corvex::test

int main(int argc, char** argv)
{
    // Root in CI: Chromium's sandbox cannot start; software rendering only.
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("CORVEX_NET_LOOPBACK_ONLY", "1", 1);
    QTemporaryDir home;
    for (const char* name :
         {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "HOME"}) {
        const QString folder = home.filePath(QLatin1String(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ::setenv(name, folder.toLocal8Bit().constData(), 1);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
