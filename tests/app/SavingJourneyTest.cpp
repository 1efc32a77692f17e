// Saving when it goes wrong: a name of another format typed into Save As, and a disk with no
// room for the document. Save As writes a Corvex file and asks before replacing the file it
// writes; a change that could not be stored is not lost without a question.

#include "mindmap/SolarSystemViewController.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtFilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "shell/MyWindow.h"
#include "storage/TempLocationManager.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestFiles.h"
#include "toolkit/ProgressHUD.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <optional>

namespace corvex::test {

namespace {

// The notice the window shows now that begins with `start`; empty when none does.
QString noticeShown(const MyWindow& window, const QString& start)
{
    for (const auto& hud : ProgressHUD::allHUDsForView(*window.containerView()))
        if (hud->labelText().startsWith(start))
            return hud->labelText();
    return QString();
}

// Arguments: the document's path. The data folder is full from the start, so that the new
// idea cannot be kept in Corvex's own copy; Ctrl+S writes it into the file, then Ctrl+Q.
// Tells the notice the window showed, whether the window still says it is edited once the
// save and the copy's next attempt are over, and ends with any question the quit asked
// (answered with Cancel).
CORVEX_APP_SCRIPT(saved_on_a_full_data_folder_then_quit)
{
    const QString path = arguments.value(0);
    auto alerts = std::make_shared<ScriptedAlertRunner>();
    alerts->answerTitle(QStringLiteral("Cancel"));
    Runners::setAlertRunner(alerts);
    auto trip = MindMapJourney::mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    if (!trip)
        AppChild::fail("the map never showed");
    MyWindow& window = AppJourney::windowOf(*trip);
    // Never destroyed: the process ends with it installed.
    auto* full = new FaultShim;
    full->failWritesUnder(TempLocationManager::baseDocURL().toLocalFile().toStdString(), ENOSPC);
    if (!MindMapJourney::addIdea(*trip, QStringLiteral("Tickets")))
        AppChild::fail("no idea added");
    QString notice;
    AppJourney::waitFor([&] {
        notice = noticeShown(window, QStringLiteral("Failed to update document"));
        return !notice.isEmpty();
    });
    AppChild::tell("notice: " + notice.toUtf8());
    AppJourney::screenshot(QStringLiteral("full-data-folder-notice"));

    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    // The save tries the copy again too; it fails again.
    if (!AppJourney::waitFor([&] {
            return trip->savesInFlight() == 0 &&
                   ideaWithText(UserFiles::readDocument(path), QStringLiteral("Tickets")) != nullptr;
        }))
        AppChild::fail("Ctrl+S wrote no file");
    AppJourney::waitFor([&] { return noticeShown(window, QString()).isEmpty(); });
    AppChild::tell(window.isDocumentEdited() ? "edited" : "not edited");
    AppJourney::screenshot(QStringLiteral("full-data-folder-saved"));

    UserInput::pressKey(window, Qt::Key_Q, Qt::ControlModifier);
    AppJourney::waitFor(
        [&] { return alerts->presentedCount() > 0 || Application::instance()->isQuitting(); });
    if (alerts->presentedCount() > 0)
        AppChild::fail("asked: " + alerts->presented().front().messageText.toUtf8());
}

class SavingJourney : public MindMapJourney
{
protected:
    // The Save As dialog the user sees, once it shows.
    static QFileDialog* saveDialog()
    {
        QFileDialog* found = nullptr;
        waitFor([&found] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
                    found = dialog;
            return found != nullptr;
        });
        return found;
    }

    // Types the name into the dialog's name field and presses Return, answering a question
    // that shows meanwhile with `answer` (it comes inside the dialog's own handling of
    // Return); the question's text, or nothing when none was asked.
    static std::optional<QString> typeNameAndReturn(QFileDialog& dialog, const QString& name,
                                                    QMessageBox::StandardButton answer)
    {
        auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!field)
            return QStringLiteral("(no name field)");
        // Keys go to the field once the dialog is the active window, as a user's do: typed
        // into a field without the focus, the name would leave the file the dialog chose
        // selected in its list, and that file is the one saved.
        dialog.activateWindow();
        field->setFocus();
        waitFor([&] { return QApplication::activeWindow() == &dialog && field->hasFocus(); });
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, name);
        std::optional<QString> asked;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&asked, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            asked = box->text();
            if (QAbstractButton* button = box->button(answer))
                button->click();
        });
        watch.start(50);
        QTest::keyClick(field, Qt::Key_Return);
        watch.stop();
        return asked;
    }
};

} // namespace

TEST_F(SavingJourney, SaveAsWithAnOutlineNameWritesACorvexFileAndAsksAboutThatFile)
{
    // The real dialog: it is where the name is typed and the question asked.
    const auto scripted = Runners::setFilePanelRunner(std::make_shared<QtFilePanelRunner>());
    auto trip = launchWithDocument(text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"))}));
    ASSERT_NE(trip, nullptr);
    MyWindow& window = windowOf(*trip);
    const QDir home = QDir::home();
    const QString outline = home.filePath(QStringLiteral("trip.opml"));
    const QByteArray outlineBytes = "<?xml version=\"1.0\"?><opml version=\"2.0\"><body/></opml>";
    writeFile(outline, outlineBytes);
    const QString written = home.filePath(QStringLiteral("trip.opml.corvex"));

    // No Corvex file of that name yet: nothing to ask, the Corvex file is written.
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save As...")).ran());
    QFileDialog* dialog = saveDialog();
    ASSERT_NE(dialog, nullptr) << "Save As showed no dialog";
    dialog->setDirectory(home);
    EXPECT_EQ(typeNameAndReturn(*dialog, QStringLiteral("trip.opml"), QMessageBox::No), std::nullopt)
        << "asked about a file that is not written";
    ASSERT_TRUE(waitFor([&] { return UserFiles::readDocument(written) != nullptr; })) << "no Corvex file";
    EXPECT_EQ(readFile(outline), outlineBytes) << "the outline was written over";

    // Now it exists: the question names it, and Yes replaces it with the map as it is now.
    ASSERT_TRUE(addIdea(*trip, QStringLiteral("Tickets")));
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save As...")).ran());
    dialog = saveDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(home);
    const auto asked = typeNameAndReturn(*dialog, QStringLiteral("trip.opml"), QMessageBox::Yes);
    ASSERT_TRUE(asked.has_value()) << "replaced a Corvex file without asking";
    EXPECT_TRUE(asked->startsWith(QStringLiteral("trip.opml.corvex already exists"))) << asked->toStdString();
    EXPECT_TRUE(waitFor([&] {
        return ideaWithText(UserFiles::readDocument(written), QStringLiteral("Tickets")) != nullptr;
    }));
    EXPECT_EQ(readFile(outline), outlineBytes);
    Runners::setFilePanelRunner(scripted);
}

TEST_F(SavingJourney, ChangesThatCouldNotBeStoredAreNotLostByAQuitWithoutAQuestion)
{
    auto trip = launchWithDocument(text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"))}));
    ASSERT_NE(trip, nullptr);
    MyWindow& window = windowOf(*trip);
    const QString path = QDir::home().filePath(QStringLiteral("Trip.corvex"));

    // The disk that holds Corvex's own copy of its documents is full.
    std::optional<FaultShim> full(std::in_place);
    full->failWritesUnder(TempLocationManager::baseDocURL().toLocalFile().toStdString(), ENOSPC);
    ASSERT_TRUE(addIdea(*trip, QStringLiteral("Tickets")));
    ASSERT_TRUE(waitFor([&] { return trip->unsavedChanges().has_value(); })) << "the save did not fail";

    // Ctrl+Q asks; Cancel keeps Corvex running with the change.
    alerts().answerTitle(QStringLiteral("Cancel"));
    ASSERT_TRUE(activate(window));
    UserInput::pressKey(window, Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([this] { return alerts().presentedCount() == 1; })) << "Ctrl+Q quit without a word";
    const Alert& asked = alerts().presented().front();
    EXPECT_EQ(asked.messageText,
              QStringLiteral("The latest changes to \u201cTrip\u201d could not be saved."));
    EXPECT_TRUE(asked.informativeText.contains(QString::fromLocal8Bit(::strerror(ENOSPC))))
        << asked.informativeText.toStdString();
    EXPECT_TRUE(asked.informativeText.endsWith(QStringLiteral("If you quit now, they are lost.")));
    ASSERT_EQ(windows().size(), 1u);
    EXPECT_TRUE(WhereOnScreen::planet(*trip, QStringLiteral("Tickets")).has_value());

    // Room again: Ctrl+S writes the idea into the file, and stores it.
    full.reset();
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] {
        return ideaWithText(UserFiles::readDocument(path), QStringLiteral("Tickets")) != nullptr;
    })) << "Ctrl+S wrote no file";
    EXPECT_TRUE(waitFor([&] { return !trip->unsavedChanges().has_value(); }))
        << "the change is still not stored";
}

TEST_F(SavingJourney, AfterASuccessfulSaveOnAFullDataFolderCtrlQQuitsWithoutAQuestion)
{
    const QString path = UserFiles::writeDocument(
        QStringLiteral("Trip.corvex"), text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"))}));
    ASSERT_FALSE(path.isEmpty());
    auto child =
        AppChild::startScript(QStringLiteral("saved_on_a_full_data_folder_then_quit"), {path}, {path});
    ASSERT_NE(child, nullptr);
    QList<QByteArray> told;
    while (const auto line = child->readLine(60.0))
        told.append(*line);
    const AppEnding ending = child->waitForEnd(30.0);
    // The copy's failure is shown, with its reason.
    ASSERT_FALSE(told.isEmpty());
    const QString notice = QString::fromUtf8(told.value(0));
    EXPECT_TRUE(notice.startsWith(QStringLiteral("notice: Failed to update document: ")) &&
                notice.contains(QString::fromLocal8Bit(::strerror(ENOSPC))))
        << notice.toStdString();
    // The file holds every edit: the window is not edited, and the quit asks nothing.
    EXPECT_EQ(told.value(1).toStdString(), "not edited");
    EXPECT_EQ(told.size(), 2) << told.value(2).toStdString();
    EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
    EXPECT_NE(ideaWithText(UserFiles::readDocument(path), QStringLiteral("Tickets")), nullptr);
}

} // namespace corvex::test
