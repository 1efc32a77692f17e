// The web-link editor's states against a scripted page view: typing, loading, failures and
// the missing page, unsafe schemes, capture, and dismissal.

#include "editor/HTMLPageViewController.h"
#include "editor/ViewerEditorFactory.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/BaseView.h"
#include "toolkit/ButtonView.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/SpinningProgressIndicator.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// A page view whose events the test sends; every load is recorded.
class ScriptedPageView : public WebPageView
{
public:
    std::shared_ptr<View> view() override { return mView; }
    void setClient(std::weak_ptr<WebPageViewClient> client) override { mClient = std::move(client); }
    void loadBypassingCaches(const QUrl& url) override { loads->append(url.toString()); }
    bool canGoBack() const override { return backAvailable; }
    void goBack() override { ++backs; }
    QUrl mainDocumentURL() const override { return documentURL; }
    Size contentsSize() const override { return contents; }
    void renderTopOfPage(Size area, CaptureCompletion completion) override
    {
        renderedAreas.push_back(area);
        captures.push_back(std::move(completion));
    }
    void loadBlankPage() override { loads->append(QStringLiteral("about:blank")); }

    void start()
    {
        if (auto c = mClient.lock())
            c->webPageDidStartLoading(*this);
    }
    void finish(const QString& url)
    {
        documentURL = QUrl(url);
        if (auto c = mClient.lock())
            c->webPageDidFinishLoading(*this);
    }
    void fail()
    {
        if (auto c = mClient.lock())
            c->webPageDidFailLoading(*this);
    }

    std::shared_ptr<QStringList> loads;
    QUrl documentURL;
    bool backAvailable = false;
    int backs = 0;
    Size contents{1000, 3000};
    std::vector<Size> renderedAreas;
    std::vector<CaptureCompletion> captures;

private:
    std::shared_ptr<View> mView = BaseView::create();
    std::weak_ptr<WebPageViewClient> mClient;
};

class Dismissals : public WebLinkEditorDelegate
{
public:
    void pleaseDismissHTMLPageView(ViewController&) override { ++count; }
    int count = 0;
};

struct WebRig
{
    explicit WebRig(const QString& missing = QStringLiteral("qrc:/missing.html"))
    {
        HTMLPageViewController::setResourceLookup(
            [missing](const QString&, const QString&) { return QUrl(missing); });
        HTMLPageViewController::setSearchBase(QUrl(QStringLiteral("http://127.0.0.1:9")));
        WebPageView::setFactory([this] {
            auto page = std::make_shared<ScriptedPageView>();
            page->loads = loads;
            pages.push_back(page);
            return page;
        });
        window = Window::create(Size(900, 600));
        previousOpener = UrlOpener::setCurrent(opener);
    }
    ~WebRig()
    {
        WebPageView::setFactory({});
        HTMLPageViewController::setResourceLookup({});
        HTMLPageViewController::setSearchBase(QUrl(QStringLiteral("https://www.google.com")));
        UrlOpener::setCurrent(previousOpener);
    }
    std::shared_ptr<HTMLPageViewController> open(const QString& url)
    {
        auto editor = HTMLPageViewController::initWithDelegate(delegate, url);
        window->setContentView(editor->view());
        return editor;
    }
    void type(HTMLPageViewController& editor, const QString& text)
    {
        editor.searchTextField()->setText(text);
        editor.controlTextDidChange();
    }
    ScriptedPageView& page() { return *pages.back(); }

    ScopedVirtualTime time;
    std::shared_ptr<QStringList> loads = std::make_shared<QStringList>();
    std::vector<std::shared_ptr<ScriptedPageView>> pages;
    std::shared_ptr<Dismissals> delegate = std::make_shared<Dismissals>();
    std::shared_ptr<Window> window;
    std::shared_ptr<RecordingUrlOpener> opener = std::make_shared<RecordingUrlOpener>();
    std::shared_ptr<UrlOpener> previousOpener;
};

TEST(WebLinkEditor, TypingDecidesTheButtonAndAnAddressLoadsWithHttpInFront)
{
    WebRig r;
    auto editor = r.open(QString());
    EXPECT_EQ(editor->searchFieldState(), 0u);
    EXPECT_TRUE(editor->actionButton()->isHidden());
    r.type(*editor, QStringLiteral("kittens"));
    EXPECT_EQ(editor->searchFieldState(), 1u);
    EXPECT_EQ(editor->actionButtonTitle(), QStringLiteral("Search"));
    EXPECT_TRUE(editor->openExternallyButton()->isHidden());
    r.type(*editor, QStringLiteral("example.org/a"));
    EXPECT_EQ(editor->searchFieldState(), 2u);
    EXPECT_EQ(editor->actionButtonTitle(), QStringLiteral("Visit"));
    EXPECT_FALSE(editor->openExternallyButton()->isHidden());

    editor->insertNewline();
    EXPECT_EQ(*r.loads, QStringList{QStringLiteral("http://example.org/a")});
    EXPECT_EQ(editor->searchFieldState(), 3u);
    EXPECT_EQ(editor->actionButtonTitle(), QStringLiteral("Add"));
    EXPECT_EQ(editor->webViewState(), 1u);
    EXPECT_FALSE(editor->progressView()->isHidden());
    r.page().start();
    r.page().finish(QStringLiteral("http://example.org/b"));
    EXPECT_EQ(editor->searchFieldState(), 4u);
    EXPECT_EQ(editor->searchTextField()->text(), QStringLiteral("http://example.org/b"));
    EXPECT_TRUE(editor->progressView()->isHidden());

    editor->actionButtonPressed();
    EXPECT_EQ(r.delegate->count, 0) << "capture first, then dismissal";
    // A page taller than wide: only its top square is drawn.
    ASSERT_EQ(r.page().captures.size(), 1u);
    EXPECT_EQ(r.page().renderedAreas.front(), Size(1000, 1000));
    QImage page(1000, 1000, QImage::Format_RGB32);
    page.fill(Qt::red);
    r.page().captures.front()(page);
    r.time.runDue(); // the drawing is heard on a later turn
    EXPECT_EQ(r.delegate->count, 1);
    EXPECT_EQ(editor->resultURL(), QStringLiteral("http://example.org/b"));
    EXPECT_EQ(editor->resultPageImage().pixelSize(), Size(64, 64));
    EXPECT_EQ(editor->resultPageImage().cgImage().pixelColor(10, 10), QColor(Qt::red));
}

TEST(WebLinkEditor, SearchWordsGoToTheConfiguredSearchPage)
{
    WebRig r;
    auto editor = r.open(QString());
    r.type(*editor, QStringLiteral("red & blue"));
    editor->actionButtonPressed();
    EXPECT_EQ(*r.loads, QStringList{QStringLiteral("http://127.0.0.1:9/search?q=red+%26+blue")});
}

TEST(WebLinkEditor, AFailedLoadShowsTheMissingPageAndKeepsTheTypedAddress)
{
    WebRig r;
    auto editor = r.open(QStringLiteral("http://127.0.0.1:1/closed"));
    EXPECT_TRUE(editor->isEditSession());
    r.page().fail();
    EXPECT_EQ(r.loads->last(), QStringLiteral("qrc:/missing.html"));
    r.page().finish(QStringLiteral("qrc:/missing.html"));
    EXPECT_EQ(editor->searchFieldState(), 2u);
    EXPECT_EQ(editor->searchTextField()->text(), QStringLiteral("http://127.0.0.1:1/closed"));
    EXPECT_EQ(editor->actionButtonTitle(), QStringLiteral("Visit"));
    // The missing page failing in turn stops there, on a blank page.
    editor->actionButtonPressed();
    r.page().fail();
    r.page().fail();
    EXPECT_EQ(r.loads->size(), 5) << r.loads->join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(r.loads->last(), QStringLiteral("about:blank"));
    EXPECT_EQ(editor->searchFieldState(), 2u);
}

TEST(WebLinkEditor, WithoutTheMissingPageAFailureAsksAtMostTwoLoads)
{
    WebRig r{QString()};
    auto editor = r.open(QStringLiteral("http://127.0.0.1:1/closed"));
    r.page().fail();
    EXPECT_EQ(r.loads->size(), 2);
    EXPECT_EQ(editor->searchFieldState(), 2u);
}

TEST(WebLinkEditor, OtherSchemesNeverReachTheEngineNorTheBrowser)
{
    WebRig r;
    auto editor = r.open(QStringLiteral("file:///etc/passwd"));
    EXPECT_EQ(*r.loads, QStringList{QStringLiteral("qrc:/missing.html")});
    editor->openExternallyButtonPressed();
    EXPECT_TRUE(r.opener->opened.isEmpty());
    // Plain words as the stored address: shown, nothing loaded, no action button.
    auto words = r.open(QStringLiteral("just some words"));
    EXPECT_EQ(r.loads->size(), 1);
    EXPECT_EQ(words->searchTextField()->text(), QStringLiteral("just some words"));
    EXPECT_TRUE(words->actionButton()->isHidden());
}

TEST(WebLinkEditor, CloseLeavesNoResultsAndAPageWithoutAreaGivesNoPicture)
{
    WebRig r;
    auto closed = r.open(QStringLiteral("http://example.org"));
    closed->keyDown(Event::keyDown(QStringLiteral("\x1b")));
    EXPECT_EQ(r.delegate->count, 1);
    EXPECT_TRUE(closed->resultURL().isNull());
    r.page().finish(QStringLiteral("http://example.org/"));
    EXPECT_EQ(closed->searchFieldState(), 3u) << "events after dismissal are ignored";

    // A page wider than tall: all of it, 64 wide.
    auto wide = r.open(QStringLiteral("http://example.org"));
    r.page().contents = Size(2000, 500);
    r.page().finish(QStringLiteral("http://example.org/"));
    wide->actionButtonPressed();
    ASSERT_EQ(r.page().renderedAreas, std::vector<Size>{Size(2000, 500)});
    QImage halves(2000, 500, QImage::Format_RGB32);
    halves.fill(Qt::green);
    for (int y = 0; y < 500; ++y)
        for (int x = 1000; x < 2000; ++x)
            halves.setPixelColor(x, y, Qt::yellow);
    r.page().captures.front()(halves);
    r.time.runDue(); // the drawing is heard on a later turn
    ASSERT_EQ(wide->resultPageImage().pixelSize(), Size(64, 16));
    EXPECT_EQ(wide->resultPageImage().cgImage().pixelColor(5, 8), QColor(Qt::green));
    EXPECT_EQ(wide->resultPageImage().cgImage().pixelColor(58, 8), QColor(Qt::yellow));

    // A page without area is never drawn and gives no picture.
    auto empty = r.open(QStringLiteral("http://example.org"));
    r.page().contents = Size(0, 0);
    r.page().finish(QStringLiteral("http://example.org/"));
    empty->actionButtonPressed();
    r.time.runDue();
    EXPECT_TRUE(r.page().renderedAreas.empty());
    EXPECT_EQ(empty->resultURL(), QStringLiteral("http://example.org/"));
    EXPECT_FALSE(empty->resultPageImage().hasImage());
    EXPECT_TRUE(empty->isDismissed());
}

TEST(WebLinkEditor, TopStripLayoutAndTheBackButton)
{
    WebRig r;
    auto editor = r.open(QString());
    editor->view()->setFrame(Rect(0, 0, 1200, 600));
    r.type(*editor, QStringLiteral("example.org"));
    editor->applyLayout();
    // Close at the left, open-in-browser at the right, the 500-wide field in the middle with
    // the action button after it, all on the strip's middle line.
    EXPECT_EQ(editor->closeButton()->frame().origin.x, 14);
    EXPECT_EQ(editor->openExternallyButton()->frame().maxX(), 1186);
    const Rect field = editor->searchTextField()->frame();
    EXPECT_EQ(field.size, Size(500, 22));
    EXPECT_EQ(field.midX(), 600);
    EXPECT_EQ(field.midY(), 20);
    EXPECT_EQ(editor->actionButton()->frame().origin.x, field.maxX() + 6);
    EXPECT_EQ(editor->actionButton()->frame().midY(), 20);

    // Narrow: too little room to centre, so the field ends at the right limit.
    editor->view()->setFrame(Rect(0, 0, 900, 600));
    editor->applyLayout();
    const Rect narrow = editor->searchTextField()->frame();
    EXPECT_EQ(editor->actionButton()->frame().maxX() + 10, editor->openExternallyButton()->frame().minX());
    EXPECT_LT(narrow.midX(), 450);

    editor->insertNewline();
    EXPECT_TRUE(editor->backButton()->isHidden());
    r.page().backAvailable = true;
    r.page().finish(QStringLiteral("http://example.org/next"));
    EXPECT_FALSE(editor->backButton()->isHidden());
    editor->applyLayout();
    EXPECT_EQ(editor->backButton()->frame().maxX(), editor->searchTextField()->frame().minX() - 6);
    editor->backButtonPressed();
    EXPECT_EQ(r.page().backs, 1);

    r.window->setContentView(editor->view());
    const QImage shot = r.window->renderToImage(1);
    shot.save(QDir(testOutputDir()).filePath(QStringLiteral("web-link-editor.png")));
    EXPECT_EQ(shot.pixelColor(450, 300), QColor(Qt::white)) << "the scripted page shows nothing";
}

} // namespace
} // namespace corvex::test
