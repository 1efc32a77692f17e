// The web-link editor on the real web engine: opened on a link to a page of a server on
// 127.0.0.1, used to go to another page, closed with the new address kept; the engine is
// loaded by the editor's first page, never by the launch. Run as root (as CI
// and this machine run) the engine's sandbox is switched off, saying so once; run as any other
// user (ctest runs the journey again as "nobody") it stays on. An engine that cannot start
// shows the editor's failure and the application goes on.

#include "editor/HTMLPageViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Idea.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/LogCapture.h"
#include "tests/webpage/LoopbackPageServer.h"
#include "toolkit/ButtonView.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/SearchTextField.h"

#include <QFile>
#include <atomic>
#include <unistd.h>

namespace corvex::test {

namespace {

// Two pages, each one colour from top to bottom; counts what is asked of it.
class PageServer : public LoopbackPageServer
{
public:
    PageServer()
    {
        page("/first", "#c03030", mFirst);
        page("/second", "#30a040", mSecond);
        start();
    }
    int requests(const char* path) const
    {
        return path == QByteArray("/first") ? mFirst.load() : mSecond.load();
    }

private:
    void page(const char* path, const char* colour, std::atomic<int>& counter)
    {
        const std::string html = std::string("<!DOCTYPE html><html><body style='margin:0;background:") +
                                 colour + "'><div style='height:3000px'></div></body></html>";
        server().Get(path, [&counter, html](const httplib::Request&, httplib::Response& res) {
            ++counter;
            res.set_content(html, "text/html");
        });
    }

    std::atomic<int> mFirst{0};
    std::atomic<int> mSecond{0};
};

// Whether Qt WebEngine is mapped into this process.
bool webEngineLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

class WebLinkEditorJourney : public MindMapJourney
{
protected:
    // The web-link editor the mind map shows over itself; null when none.
    static std::shared_ptr<HTMLPageViewController> editorOver(const SolarSystemViewController& screen)
    {
        for (const auto& presented : screen.presentedViewControllers()) {
            if (auto editor = std::dynamic_pointer_cast<HTMLPageViewController>(presented))
                return editor;
        }
        return nullptr;
    }

    // A document with a link "Site" to the server's first page, launched; the editor opened on
    // the link by the planet's menu.
    std::shared_ptr<HTMLPageViewController> openEditorOnSite(const PageServer& server)
    {
        mTrip = launchWithDocument(
            text(QStringLiteral("Trip"),
                 {webLink(QStringLiteral("Site"), QStringLiteral("http://") + server.address("/first"))}));
        mEngineLoadedByLaunch = webEngineLoaded();
        if (!mTrip || !UserInput::rightClick(windowOf(*mTrip),
                                             seen(WhereOnScreen::planet(*mTrip, QStringLiteral("Site"))),
                                             QStringLiteral("Edit"))
                           .chose)
            return nullptr;
        std::shared_ptr<HTMLPageViewController> editor;
        waitFor([&] {
            editor = editorOver(*mTrip);
            return editor && editor->view()->window();
        });
        return editor;
    }

    std::shared_ptr<SolarSystemViewController> mTrip;
    bool mEngineLoadedByLaunch = false;
};

} // namespace

TEST_F(WebLinkEditorJourney, GoesToAnotherLoopbackPageAndKeepsItsAddress)
{
    PageServer server;
    LogCapture log;
    auto editor = openEditorOnSite(server);
    ASSERT_NE(editor, nullptr) << "Edit on a web link opened no web-link editor";
    SolarSystemViewController* trip = mTrip.get();
    MyWindow& window = windowOf(*trip);
    ASSERT_TRUE(
        waitFor([&] { return editor->searchFieldState() == HTMLPageViewController::StatePageShown; }, 30.0))
        << "the link's page was not shown";
    EXPECT_GE(server.requests("/first"), 1);
    EXPECT_FALSE(mEngineLoadedByLaunch) << "the launch loaded the web engine";
    EXPECT_TRUE(webEngineLoaded());
    screenshot(QStringLiteral("web-link-editor"));

    // While the editor covers the mind map, the mind map's own items are disabled; the
    // application's stay.
    const ShownMenu file = UserInput::openMenuBarMenu(window, QStringLiteral("File"));
    for (const QString& item :
         {QStringLiteral("Save"), QStringLiteral("Save As..."), QStringLiteral("Import..."),
          QStringLiteral("Export..."), QStringLiteral("Print...")})
        EXPECT_EQ(file.isEnabled(item), false) << item.toStdString() << " under the web-link editor";
    EXPECT_EQ(file.isEnabled(QStringLiteral("New Mind Map")), true);
    const ShownMenu view = UserInput::openMenuBarMenu(window, QStringLiteral("View"));
    EXPECT_EQ(view.isEnabled(QStringLiteral("Toggle Mind Map")), false);
    EXPECT_EQ(view.isEnabled(QStringLiteral("Add New Element")), false);

    // Another address typed into the field, then Return: the editor shows that page.
    UserInput::click(window, seen(WhereOnScreen::middle(*editor->searchTextField())));
    UserInput::pressKey(window, Qt::Key_A, Qt::ControlModifier);
    UserInput::typeText(window, server.address("/second"));
    UserInput::pressKey(window, Qt::Key_Return);
    ASSERT_TRUE(waitFor(
        [&] {
            return server.requests("/second") >= 1 &&
                   editor->searchFieldState() == HTMLPageViewController::StatePageShown;
        },
        30.0))
        << "the typed address was not shown";

    // The action button keeps it: the editor closes, the idea links to the new page and shows
    // a picture of its top.
    UserInput::click(window, seen(WhereOnScreen::middle(*editor->actionButton())));
    ASSERT_TRUE(waitFor([&] { return editorOver(*trip) == nullptr; }, 15.0)) << "the editor did not close";
    const IdeaPtr site = ideaWithText(trip->rootIdea(), QStringLiteral("Site"));
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->URL(), QStringLiteral("http://") + server.address("/second"));
    EXPECT_FALSE(site->image().cgImage().isNull()) << "no picture of the page";
    screenshot(QStringLiteral("web-link-kept"));

    // As root the engine's sandbox cannot start: it is off, said once; for anyone else it is on.
    const int said = log.count(QStringLiteral("sandbox"));
    EXPECT_EQ(said, ::geteuid() == 0 ? 1 : 0) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(WebLinkEditorJourney, AnEngineThatCannotStartShowsTheFailureAndCorvexGoesOn)
{
    PageServer server;
    // The engine's helper program cannot run.
    ::setenv("QTWEBENGINEPROCESS_PATH", "/bin/false", 1);
    auto editor = openEditorOnSite(server);
    ASSERT_NE(editor, nullptr) << "Edit on a web link opened no web-link editor";
    SolarSystemViewController* trip = mTrip.get();
    MyWindow& window = windowOf(*trip);
    // The failure: the address stays typed, no page shows, and the user can still close.
    ASSERT_TRUE(waitFor(
        [&] {
            return editor->searchFieldState() == HTMLPageViewController::StateAddressTyped &&
                   editor->webViewState() == HTMLPageViewController::WebViewFinished;
        },
        30.0))
        << "state " << editor->searchFieldState() << ", page " << editor->webViewState();
    screenshot(QStringLiteral("web-link-engine-failed"));
    UserInput::click(window, seen(WhereOnScreen::middle(*editor->closeButton())));
    ASSERT_TRUE(waitFor([&] { return editorOver(*trip) == nullptr; }, 15.0));
    EXPECT_EQ(ideaWithText(trip->rootIdea(), QStringLiteral("Site"))->URL(),
              QStringLiteral("http://") + server.address("/first"));
}

} // namespace corvex::test
