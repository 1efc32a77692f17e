#include "tests/shell/PreferencesTestSupport.h"
#include "tests/shell/ShellTestSupport.h"

#include "platform/core/Bundle.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/MenuItem.h"
#include "shell/AboutView.h"
#include "shell/AboutWindow.h"
#include "shell/CreditsBrowser.h"
#include "shell/LegalNoticesView.h"
#include "shell/LegalNoticesWindow.h"
#include "shell/ShellResources.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/TextView.h"

#include <QTcpServer>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

// Swaps the bundle's text resources for a scope.
class SwappedShellResources
{
public:
    explicit SwappedShellResources(ShellResources::Lookup lookup)
        : mPrevious(ShellResources::setLookup(lookup))
    {}
    ~SwappedShellResources() { ShellResources::setLookup(mPrevious); }
    SwappedShellResources(const SwappedShellResources&) = delete;
    SwappedShellResources& operator=(const SwappedShellResources&) = delete;

private:
    ShellResources::Lookup mPrevious;
};

void chooseAbout(ShellRig& rig)
{
    auto item = MenuItem::create(QStringLiteral("About Corvex"));
    rig.app->performAction(QStringLiteral("qvOpenAboutDialog:"), *item);
}

// Clicks the credits page's link whose text is `text`, in the page's viewport.
void clickCreditsLink(CreditsBrowser& browser, const QString& text)
{
    const QTextCursor found = browser.document()->find(text);
    ASSERT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor inside(browser.document());
    inside.setPosition(found.selectionStart() + 1);
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, browser.cursorRect(inside).center());
}

} // namespace

TEST(AboutWindow, OneWindowCentredOnTheFullScreenWhoseLinkOpensTheLegalNotices)
{
    ShellRig rig;
    ASSERT_TRUE(rig.app->respondsToAction(QStringLiteral("qvOpenAboutDialog:")));
    EXPECT_EQ(FixedContentWindow::centredContentRect(Rect(0, 0, 1600, 1000), AboutWindow::ContentSize).origin,
              Point(657.5, 302.5));
    EXPECT_EQ(FixedContentWindow::centredContentRect(Rect(0, 0, 1600, 1000), LegalNoticesWindow::ContentSize)
                  .origin,
              Point(530, 280));
    EXPECT_EQ(FixedContentWindow::centredContentRect(Rect(0, 0, 1440, 900), AboutWindow::ContentSize).origin,
              Point(577.5, 252.5));

    chooseAbout(rig);
    const std::shared_ptr<AboutWindow> about = AboutWindow::shared();
    ASSERT_TRUE(about);
    chooseAbout(rig);
    EXPECT_EQ(AboutWindow::shared(), about);
    EXPECT_TRUE(about->isVisible());
    const Rect frame = about->frame();
    // The window system takes whole pixels: the half point rounds.
    EXPECT_NEAR(frame.origin.x, 657.5, 0.5);
    EXPECT_NEAR(frame.origin.y, 302.5, 0.5);
    EXPECT_EQ(frame.size, AboutWindow::ContentSize);

    const auto& view = about->aboutView();
    view->forceDirtyLayout();
    EXPECT_EQ(view->textLabel()->text(), QStringLiteral("Corvex v") + Bundle::mainBundle().shortVersion());
    EXPECT_EQ(view->logoView()->frame().midX(), 285 / 2.0);
    EXPECT_EQ(view->logoView()->frame().midY(), 70);
    EXPECT_EQ(view->textLabel()->frame().midY(), view->logoView()->frame().maxY() + 28);
    EXPECT_EQ(view->webView()->frame(), Rect(0, 170, 285, 395 - 170 - 44));
    EXPECT_EQ(view->copyLabel()->frame().minX(), 15);
    EXPECT_EQ(view->copyLabel()->frame().midY(), 395 - 22);
    EXPECT_EQ(view->buttonView()->frame().maxX(), 285 - 15);
    EXPECT_TRUE(view->creditsBrowser()->toPlainText().contains(QStringLiteral("Qt 6")));
    EXPECT_EQ(view->creditsBrowser()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    about->renderToImage(1).save(prefsRenderingPath(QStringLiteral("about.png")));

    // A pointing hand over the link; a click on it opens the legal notices after its release.
    const Point link = view->convertPointToView(
        Point(view->buttonView()->frame().midX(), view->buttonView()->frame().midY()), nullptr);
    about->sendEvent(Event::mouseMoved(Point(10, 380)));
    about->sendEvent(Event::mouseMoved(link));
    EXPECT_EQ(Cursor::currentCursor().shape(), Cursor::Shape::PointingHand);
    about->sendEvent(Event::mouseDown(link));
    about->sendEvent(Event::mouseUp(link));
    rig.time.advance(ButtonView::ReleaseReportDelay + 0.05);
    const std::shared_ptr<LegalNoticesWindow> legal = LegalNoticesWindow::shared();
    ASSERT_TRUE(legal);
    EXPECT_TRUE(legal->isVisible());
    EXPECT_EQ(legal->title(), QStringLiteral("Legal Notices"));
    EXPECT_NEAR(legal->frame().origin.x, 530, 0.5);
    EXPECT_NEAR(legal->frame().origin.y, 280, 0.5);
    EXPECT_EQ(legal->contentMinSize(), LegalNoticesWindow::ContentSize);
    EXPECT_EQ(Window::keyWindow(), legal.get());

    // Closing hides; the next show is the same window.
    about->performClose();
    EXPECT_FALSE(about->isVisible());
    chooseAbout(rig);
    EXPECT_EQ(AboutWindow::shared(), about);
    EXPECT_TRUE(about->isVisible());
}

TEST(LegalNotices, ClosedAndShownAgainKeepsItsScrollPosition)
{
    ShellRig rig;
    const std::shared_ptr<LegalNoticesWindow> legal = LegalNoticesWindow::show();
    ASSERT_TRUE(legal);
    legal->renderToImage(1);
    const auto& scroll = legal->legalView()->scrollView();
    EXPECT_TRUE(legal->legalView()->textView()->text().startsWith(QStringLiteral("LEGAL NOTICES")));
    EXPECT_GT(legal->legalView()->textView()->frame().height(), 440);
    legal->renderToImage(1).save(prefsRenderingPath(QStringLiteral("legal_top.png")));
    scroll->scrollClipViewToPoint(Point(0, 300));
    const Rect scrolled = scroll->documentVisibleRect();
    EXPECT_EQ(scrolled.origin.y, 300);

    legal->performClose();
    EXPECT_FALSE(legal->isVisible());
    EXPECT_EQ(LegalNoticesWindow::show(), legal);
    EXPECT_TRUE(legal->isVisible());
    legal->renderToImage(1).save(prefsRenderingPath(QStringLiteral("legal_scrolled.png")));
    EXPECT_EQ(scroll->documentVisibleRect(), scrolled);
}

TEST(LegalNotices, AMissingOrUnreadableTextShowsTheErrorLine)
{
    ScreenFacade::ScopedOverride screen({ScreenInfo{Rect(0, 0, 1600, 1000), Rect(0, 0, 1600, 1000), 1.0}});
    for (const std::optional<QByteArray>& contents :
         {std::optional<QByteArray>(), std::optional<QByteArray>(QByteArray("bad \xff\xfe bytes"))}) {
        SwappedShellResources swapped([contents](const QString& name, const QString& type) {
            return name == QStringLiteral("legal") && type == QStringLiteral("txt") ? contents : std::nullopt;
        });
        auto view = LegalNoticesView::create();
        EXPECT_EQ(view->textView()->text(), QStringLiteral("(error occurred loading resource file)"));
        FixedContentWindow window(LegalNoticesWindow::ContentSize, view);
        window.renderToImage(1).save(prefsRenderingPath(QStringLiteral("legal_missing.png")));
        EXPECT_EQ(view->scrollView()->frame(), Rect(Point(), LegalNoticesWindow::ContentSize));
        // The line lies inside the text view, below its inset.
        EXPECT_GE(view->textView()->frame().height(), 2 * LegalNoticesView::InsetHeight + 10);
    }
}

TEST(CreditsPage, FetchesNothingRunsNothingAndOpensOnlyWebLinksInTheBrowser)
{
    ShellRig rig;
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    const QString page =
        QStringLiteral(
            "<html><head><script src=\"%1/x.js\"></script><link rel=\"stylesheet\" href=\"%1/s.css\">"
            "</head><body><img src=\"%1/i.png\" width=\"20\" height=\"20\">"
            "<p><a href=\"https://example.org/credits\">weblink</a></p>"
            "<p><a href=\"file:///etc/passwd\">filelink</a></p>"
            "<p><a href=\"javascript:alert(1)\">scriptlink</a></p>"
            "<script>document.write('ran');</script></body></html>")
            .arg(base);
    SwappedShellResources swapped([page](const QString& name, const QString&) -> std::optional<QByteArray> {
        if (name == QStringLiteral("credits"))
            return page.toUtf8();
        return std::nullopt;
    });
    auto view = AboutView::create();
    Window window(AboutWindow::ContentSize);
    window.setContentView(view);
    window.makeKeyAndOrderFront();
    view->forceDirtyLayout();
    EmbeddedWidgetView::updatePresentations(window);
    CreditsBrowser* browser = view->creditsBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded); // loaded
    EXPECT_FALSE(runUntil([&] { return server.hasPendingConnections(); }, 0.5));
    EXPECT_FALSE(browser->toPlainText().contains(QStringLiteral("ran")));
    window.renderToImage(1).save(prefsRenderingPath(QStringLiteral("credits_hostile.png")));

    clickCreditsLink(*browser, QStringLiteral("weblink"));
    ASSERT_EQ(rig.urls->opened.size(), 1);
    EXPECT_EQ(rig.urls->opened.front(), QUrl(QStringLiteral("https://example.org/credits")));
    clickCreditsLink(*browser, QStringLiteral("filelink"));
    clickCreditsLink(*browser, QStringLiteral("scriptlink"));
    EXPECT_EQ(rig.urls->opened.size(), 1);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("weblink"))); // the page stayed
    EXPECT_FALSE(server.hasPendingConnections());
    window.close();
}

} // namespace corvex::test
