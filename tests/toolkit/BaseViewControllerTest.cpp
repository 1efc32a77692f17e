// Screens: the permissive hooks, screen occupation with its three assertion lines, alerts
// that respect and take the occupation (also on the Qt default driven by Escape), and the
// import of a local file through the open panel and the persistence controller.

#include "toolkit/BaseViewController.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/CompletionCheck.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/QtAlertRunner.h"
#include "platform/ui/Window.h"
#include "storage/DocumentImporter.h"
#include "storage/IdeaDocument.h"
#include "tests/platform/ui/ModalTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "tests/toolkit/ControllerTestSupport.h"
#include "toolkit/BaseView.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kAlreadyLiberated =
    QStringLiteral("ERROR: Assertion failure: ERROR: Screen is already liberated");
const QString kNilOperation = QStringLiteral("ERROR: Assertion failure: ERROR: operation==nil");
const QString kOtherOperation =
    QStringLiteral("ERROR: Assertion failure: ERROR: operation!=mCurrentOccupyingOperation");

// Counts reactToStateChange and notes the occupation each call saw ("-" for free).
class CountingController : public BaseViewController
{
public:
    void reactToStateChange() override
    {
        ++reactCount;
        seen.append(screenOccupied() ? currentOccupyingOperation() : QStringLiteral("-"));
    }

    int reactCount = 0;
    QStringList seen;
};

std::shared_ptr<CountingController> counting()
{
    return std::make_shared<CountingController>();
}

// A screen whose view is the content view of a window.
struct ScreenInWindow
{
    ScreenInWindow()
    {
        screen =
            std::make_shared<GivenViewController<CountingController>>(BaseView::create(Rect(0, 0, 400, 300)));
        window->setContentView(screen->view());
    }

    std::shared_ptr<Window> window = Window::create(Size(400, 300));
    std::shared_ptr<GivenViewController<CountingController>> screen;
};

// Completes every import with the payload it holds (null: a failed read), on the main queue.
class PayloadImporter : public DocumentImporter
{
public:
    void importDocument(const QUrl& url, AttachmentHandler, Completion completion) override
    {
        urls.append(url);
        const Read read =
            payload ? Read(payload)
                    : Read(Error(QStringLiteral("test"), 1, QString(),
                                 {{Error::FailureReasonKey, QStringLiteral("The file holds no outline.")}}));
        MainQueue::post([completion = std::move(completion), read]() mutable { completion(read); });
    }

    IdeaDocumentDataObjectPtr payload;
    QList<QUrl> urls;
};

// Installs a PayloadImporter for the scope.
struct ImporterScope
{
    ImporterScope() { DocumentImporter::install(importer); }
    ~ImporterScope() { DocumentImporter::install(nullptr); }

    std::shared_ptr<PayloadImporter> importer = std::make_shared<PayloadImporter>();
};

IdeaDocumentDataObjectPtr payloadWithRoot(const QString& text)
{
    auto payload = IdeaDocumentDataObject::create();
    payload->setIdea(Idea::initWithText(text));
    return payload;
}

QString joined(const LogCapture& log)
{
    return log.lines().join(QLatin1Char('\n'));
}

} // namespace

TEST(BaseViewController, EveryHookIsPermissive)
{
    auto screen = BaseViewController::create();
    EXPECT_TRUE(screen->createState().isEmpty());
    ValueDictionary state = screen->createState();
    state.insert(QStringLiteral("zoom"), Value(2.0));
    EXPECT_TRUE(screen->restoreFromState(state));
    auto item = MenuItem::create(QStringLiteral("Delete"));
    item->setActionId(QStringLiteral("delete:"));
    EXPECT_TRUE(screen->validateUserInterfaceItem(*item));
    EXPECT_TRUE(screen->startClosingCanCloseNow());
    EXPECT_TRUE(screen->canWeSafelyDeleteIdea(QStringLiteral("x"), QStringLiteral("T_doc")));
    EXPECT_TRUE(screen->canWeSafelyDeleteIdea(QString(), QString()));
    screen->becameTopLevelController();
    EXPECT_FALSE(screen->screenOccupied());
}

TEST(BaseViewController, MyWindowIsTheWindowOfTheViewAndLoadsNothing)
{
    auto screen =
        std::make_shared<GivenViewController<BaseViewController>>(BaseView::create(Rect(0, 0, 100, 100)));
    EXPECT_EQ(screen->myWindow(), nullptr);
    EXPECT_FALSE(screen->isViewLoaded()) << "asking for the window does not load the view";
    auto window = Window::create(Size(100, 100));
    auto content = BaseView::create(Rect(0, 0, 100, 100));
    window->setContentView(content);
    EXPECT_EQ(screen->myWindow(), nullptr) << "loaded, but in no window";
    content->addSubview(screen->view());
    EXPECT_EQ(screen->myWindow(), window.get());
    screen->view()->removeFromSuperview();
    EXPECT_EQ(screen->myWindow(), nullptr);
}

TEST(BaseViewControllerOccupation, TheFirstOccupationKeepsTheScreen)
{
    LogCapture log;
    auto screen = counting();
    screen->occupyScreen(QStringLiteral("A"));
    screen->occupyScreen(QStringLiteral("B"));
    EXPECT_TRUE(screen->screenOccupied());
    EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("A"));
    EXPECT_EQ(screen->reactCount, 1);
    EXPECT_EQ(screen->seen, QStringList{QStringLiteral("A")}) << "told after the change";
    EXPECT_TRUE(log.lines().isEmpty()) << "ignored without a word: " << joined(log).toStdString();
}

TEST(BaseViewControllerOccupation, ANullNameOnAFreeScreenDoesNothing)
{
    auto screen = counting();
    screen->occupyScreen(QString());
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_EQ(screen->reactCount, 0);
    // An empty name is a name.
    screen->occupyScreen(QStringLiteral(""));
    EXPECT_TRUE(screen->screenOccupied());
    EXPECT_EQ(screen->reactCount, 1);
}

TEST(BaseViewControllerOccupation, TheRightNameFreesTheScreenWithoutALogLine)
{
    LogCapture log;
    auto screen = counting();
    screen->occupyScreen(QStringLiteral("OpenDocument"));
    screen->liberateScreen(QStringLiteral("OpenDocument"));
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_TRUE(screen->currentOccupyingOperation().isNull());
    EXPECT_EQ(screen->seen, (QStringList{QStringLiteral("OpenDocument"), QStringLiteral("-")}));
    EXPECT_TRUE(log.lines().isEmpty()) << joined(log).toStdString();
}

TEST(BaseViewControllerOccupation, AnotherNameIsLoggedAndStillFreesTheScreen)
{
    LogCapture log;
    auto screen = counting();
    screen->occupyScreen(QStringLiteral("A"));
    screen->liberateScreen(QStringLiteral("B"));
    EXPECT_EQ(log.lines(), QStringList{kOtherOperation});
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_EQ(screen->reactCount, 2);
    // Free now: the next occupation gets the screen.
    screen->occupyScreen(QStringLiteral("B"));
    EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("B"));
}

TEST(BaseViewControllerOccupation, AFreeScreenIsLoggedAndStillToldOfTheChange)
{
    LogCapture log;
    auto screen = counting();
    screen->liberateScreen(QStringLiteral("A"));
    EXPECT_EQ(log.lines(), QStringList{kAlreadyLiberated});
    EXPECT_EQ(screen->reactCount, 1);
    EXPECT_FALSE(screen->screenOccupied());
    log.clear();
    screen->liberateScreen(QString());
    EXPECT_EQ(log.lines(), QStringList{kAlreadyLiberated})
        << "a free screen comes first, even with a null name";
}

TEST(BaseViewControllerOccupation, ANullNameIsLoggedAndStillFreesTheScreen)
{
    LogCapture log;
    auto screen = counting();
    screen->occupyScreen(QStringLiteral("IdeaEditing"));
    screen->liberateScreen(QString());
    EXPECT_EQ(log.lines(), QStringList{kNilOperation});
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_EQ(screen->reactCount, 2);
}

TEST(BaseViewControllerAlerts, ASimpleAlertOnAnOccupiedScreenShowsNothing)
{
    ScriptedRunners runners;
    auto screen = counting();
    screen->occupyScreen(QStringLiteral("OpenDocument"));
    screen->showSimpleAlertViewWithTitle(QStringLiteral("Title"), QStringLiteral("Message"));
    EXPECT_EQ(runners.alerts->presentedCount(), 0);
    EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("OpenDocument"));
    EXPECT_EQ(screen->reactCount, 1);
}

TEST(BaseViewControllerAlerts, ASimpleAlertOccupiesTheScreenWhileShownAndFreesItAfterwards)
{
    ScriptedRunners runners;
    ScreenInWindow place;
    auto& screen = place.screen;
    QString occupiedWhileShown;
    runners.alerts->setHandler([&](const Alert& alert) -> std::optional<int> {
        occupiedWhileShown = screen->currentOccupyingOperation();
        EXPECT_EQ(alert.messageText, QStringLiteral("Title"));
        EXPECT_EQ(alert.informativeText, QStringLiteral("Message"));
        EXPECT_EQ(buttonTitles(alert), QStringList{QStringLiteral("Close")})
            << "the text of \"Choice.Close\"";
        EXPECT_EQ(alert.buttons.at(0).type, int(Alert::NormalButton));
        return 0;
    });
    screen->showSimpleAlertViewWithTitle(QStringLiteral("Title"), QStringLiteral("Message"));
    EXPECT_EQ(runners.alerts->presentedCount(), 1);
    EXPECT_EQ(occupiedWhileShown, BaseViewController::ShowingAlertOperation);
    EXPECT_EQ(occupiedWhileShown, QStringLiteral("ShowingAlert"));
    EXPECT_FALSE(screen->screenOccupied()) << "free again once closed";
    // Occupying and the extra call, then liberating and the button's extra call.
    EXPECT_EQ(screen->seen, (QStringList{QStringLiteral("ShowingAlert"), QStringLiteral("ShowingAlert"),
                                         QStringLiteral("-"), QStringLiteral("-")}));
}

TEST(BaseViewControllerAlerts, ASimpleAlertDismissedWithoutAChoiceStillFreesTheScreen)
{
    ScriptedRunners runners;
    auto screen = counting();
    runners.alerts->answerDismissed();
    screen->showSimpleAlertViewWithTitle(QStringLiteral("Title"), QStringLiteral("Message"));
    EXPECT_EQ(runners.alerts->presentedCount(), 1);
    EXPECT_FALSE(screen->screenOccupied());
}

TEST(BaseViewControllerAlerts, ANonblockingAlertIgnoresAndKeepsTheOccupation)
{
    ScriptedRunners runners;
    LogCapture log;
    auto screen = counting();
    screen->occupyScreen(QStringLiteral("IdeaEditing"));
    QString occupiedWhileShown;
    runners.alerts->setHandler([&](const Alert& alert) -> std::optional<int> {
        occupiedWhileShown = screen->currentOccupyingOperation();
        EXPECT_EQ(buttonTitles(alert), QStringList{QStringLiteral("Close")});
        return 0;
    });
    screen->showNonblockingAlertViewWithTitle(QStringLiteral("Title"), QStringLiteral("Message"));
    EXPECT_EQ(runners.alerts->presentedCount(), 1) << "shown although the screen is occupied";
    EXPECT_EQ(occupiedWhileShown, QStringLiteral("IdeaEditing"));
    EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("IdeaEditing"));
    EXPECT_EQ(screen->reactCount, 2) << "the occupation, then the button";

    auto free = counting();
    free->showNonblockingAlertViewWithTitle(QStringLiteral("Title"), QStringLiteral("Message"));
    EXPECT_FALSE(free->screenOccupied());
    EXPECT_EQ(free->reactCount, 1);
    EXPECT_TRUE(log.lines().isEmpty()) << joined(log).toStdString();
}

TEST(BaseViewControllerOnQt, EscapeClosesASimpleAlertAndFreesTheScreen)
{
    ScreenInWindow place;
    auto& screen = place.screen;
    QString occupiedWhileShown;
    ModalDriver driver(ModalDriver::Target::ModalWidget, {Qt::Key_Escape}, [&](QWidget* widget) {
        occupiedWhileShown = screen->currentOccupyingOperation();
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("Nothing to import"));
        ASSERT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->buttons()[0]->text(), QStringLiteral("Close"));
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    });
    Runners::reset();
    screen->showSimpleAlertViewWithTitle(QStringLiteral("Nothing to import"),
                                         QStringLiteral("The folder is empty."));
    EXPECT_TRUE(driver.sent());
    EXPECT_FALSE(driver.rescued());
    EXPECT_EQ(occupiedWhileShown, QStringLiteral("ShowingAlert"));
    EXPECT_FALSE(screen->screenOccupied()) << "the Close block ran";
    EXPECT_EQ(screen->seen.last(), QStringLiteral("-"));
}

TEST(BaseViewControllerImport, OpensThePanelForDocumentFilesOnTheDesktopOfItsWindow)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ScreenInWindow place;
    place.screen->startImportingLocalFileOnCompletion({});
    ASSERT_EQ(runners.panels->presentedCount(), 1);
    const auto& record = runners.panels->presented()[0];
    EXPECT_EQ(record.panel.allowedFileTypes, (QStringList{QStringLiteral("corvex"), QStringLiteral("opml")}));
    EXPECT_EQ(record.panel.directory, FilePanelRunner::desktopDirectory());
    EXPECT_FALSE(record.panel.directory.isEmpty());
    EXPECT_TRUE(record.panel.canChooseFiles);
    EXPECT_FALSE(record.panel.allowsMultipleSelection);
    EXPECT_EQ(record.window, place.window.get()) << "a sheet on the controller's window";
    EXPECT_TRUE(runners.panels->respond(FilePanelRunner::Cancel));
    time.advance(1);
}

TEST(BaseViewControllerImport, ACancelledPanelLeavesTheCompletionUncalled)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ImporterScope importer;
    auto screen = counting();
    int calls = 0;
    // The silence is meant: the completion is dropped, not let go unanswered.
    std::vector<CompletionFault> faults;
    const CompletionCheck::Reporter previous = CompletionCheck::setReporter(
        [&faults](CompletionFault fault, const SourceLocation&) { faults.push_back(fault); });
    runners.panels->answerCancel();
    screen->startImportingLocalFileOnCompletion(
        [&](const std::shared_ptr<Idea>&, const QString&) { ++calls; });
    time.advance(10);
    CompletionCheck::setReporter(previous);
    EXPECT_TRUE(faults.empty()) << "a cancelled panel reported its completion let go";
    EXPECT_EQ(runners.panels->presentedCount(), 1);
    EXPECT_EQ(runners.panels->openPanels(), 0u);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(importer.importer->urls.isEmpty()) << "nothing was imported";
    EXPECT_EQ(runners.alerts->presentedCount(), 0) << "and nothing was said";
}

TEST(BaseViewControllerImport, AnImportedFileComesBackAsANewTemporaryDocument)
{
    ScriptedRunners runners;
    ImporterScope importer;
    importer.importer->payload = payloadWithRoot(QStringLiteral("Imported plan"));
    auto screen = counting();
    const QUrl file = QUrl::fromLocalFile(testDir() + QStringLiteral("/plan.corvex"));
    runners.panels->answerOK({file});
    CompletionRecorder recorder;
    std::shared_ptr<Idea> idea;
    QString identifier;
    screen->startImportingLocalFileOnCompletion(recorder.expect<const std::shared_ptr<Idea>&, const QString&>(
        QStringLiteral("import"), std::function<void(const std::shared_ptr<Idea>&, const QString&)>(
                                      [&](const std::shared_ptr<Idea>& i, const QString& d) {
                                          idea = i;
                                          identifier = d;
                                      })));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(importer.importer->urls, QList<QUrl>{file}) << "the chosen file was imported";
    ASSERT_NE(idea, nullptr);
    EXPECT_EQ(idea->text(), QStringLiteral("Imported plan"));
    EXPECT_FALSE(identifier.isEmpty());
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(identifier), IdeaDocument::TemporaryLocation)
        << identifier.toStdString();
    EXPECT_EQ(runners.alerts->presentedCount(), 0);
}

TEST(BaseViewControllerImport, AFailedImportIsShownAndCompletesWithNothing)
{
    ScriptedRunners runners;
    ImporterScope importer; // no payload: the read fails
    auto screen = counting();
    runners.panels->answerOK({QUrl::fromLocalFile(testDir() + QStringLiteral("/broken.opml"))});
    CompletionRecorder recorder;
    int alertsBeforeCompletion = -1;
    bool gotIdea = true;
    bool gotIdentifier = true;
    screen->startImportingLocalFileOnCompletion(recorder.expect<const std::shared_ptr<Idea>&, const QString&>(
        QStringLiteral("import"), std::function<void(const std::shared_ptr<Idea>&, const QString&)>(
                                      [&](const std::shared_ptr<Idea>& i, const QString& d) {
                                          alertsBeforeCompletion = runners.alerts->presentedCount();
                                          gotIdea = i != nullptr;
                                          gotIdentifier = !d.isNull();
                                      })));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_FALSE(gotIdea);
    EXPECT_FALSE(gotIdentifier);
    EXPECT_EQ(alertsBeforeCompletion, 1) << "the alert comes first";
    ASSERT_EQ(runners.alerts->presentedCount(), 1);
    const Alert& alert = runners.alerts->presented()[0];
    // The reader's reason follows the alert's own words.
    EXPECT_EQ(alert.informativeText, QStringLiteral("Failed to open file\n\nThe file holds no outline."));
    EXPECT_EQ(buttonTitles(alert), QStringList{AlertRunner::defaultButtonTitle()});
}

TEST(BaseViewControllerImport, AFileReadOnlyInPartIsImportedAndTheAlertSaysHowMuch)
{
    ScriptedRunners runners;
    ImporterScope importer;
    importer.importer->payload = payloadWithRoot(QStringLiteral("Kept"));
    ASSERT_TRUE(importer.importer->payload->idea()->addIdea(Idea::initWithText(QStringLiteral("also kept"))));
    importer.importer->payload->setIncompleteReading(QStringLiteral("The file ends early."));
    auto screen = counting();
    runners.panels->answerOK({QUrl::fromLocalFile(testDir() + QStringLiteral("/cut.opml"))});
    std::shared_ptr<Idea> idea;
    CompletionRecorder recorder;
    screen->startImportingLocalFileOnCompletion(recorder.expect<const std::shared_ptr<Idea>&, const QString&>(
        QStringLiteral("import"), std::function<void(const std::shared_ptr<Idea>&, const QString&)>(
                                      [&](const std::shared_ptr<Idea>& i, const QString&) { idea = i; })));
    ASSERT_TRUE(runUntil([&] { return runners.alerts->presentedCount() == 1; }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_NE(idea, nullptr);
    EXPECT_EQ(idea->text(), QStringLiteral("Kept"));
    EXPECT_EQ(
        runners.alerts->presented()[0].informativeText,
        QStringLiteral("Only part of \u201ccut.opml\u201d could be read: the 2 ideas before the damage are "
                       "open.\n\nThe file ends early."));
}

TEST(BaseViewControllerImport, AFailedImportWithoutACompletionOnlyShowsTheAlert)
{
    ScriptedRunners runners;
    ImporterScope importer;
    auto screen = counting();
    runners.panels->answerOK({QUrl::fromLocalFile(testDir() + QStringLiteral("/broken.opml"))});
    screen->startImportingLocalFileOnCompletion({});
    EXPECT_TRUE(runUntil([&] { return runners.alerts->presentedCount() == 1; }));
    EXPECT_EQ(importer.importer->urls.size(), 1);
}
