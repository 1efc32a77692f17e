// Open panels: the completion contract of every runner (once, later, on the main thread),
// the scripted runner, and the Qt default's dialog (filter, start folder, modality) ended
// from inside the event loop.

#include "platform/ui/FilePanelRunner.h"
#include "platform/core/Log.h"
#include "platform/ui/QtFilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

using namespace corvex;
using namespace corvex::test;

namespace {

struct Answer
{
    int response = -1;
    QList<QUrl> urls;
    int calls = 0;
};

FilePanelRunner::Completion recordInto(Answer& answer)
{
    return [&answer](int response, const QList<QUrl>& urls) {
        ++answer.calls;
        answer.response = response;
        answer.urls = urls;
    };
}

QFileDialog* visibleFileDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

QString desktop()
{
    const QString path = QDir::homePath() + QStringLiteral("/Desktop");
    QDir().mkpath(path);
    return path;
}

// A runner that breaks the contract: answers inside the call, and twice.
class EagerRunner final : public FilePanelRunner
{
protected:
    void present(const OpenPanel&, Window*, Reply reply) override
    {
        reply(OK, {QUrl::fromLocalFile(QStringLiteral("/tmp/a.corvex"))});
        reply(Cancel, {});
    }
    void presentSave(const SavePanel&, Window*, Reply reply) override
    {
        reply(OK, {QUrl::fromLocalFile(QStringLiteral("/tmp/b"))});
        reply(Cancel, {});
    }
};

struct SaveAnswer
{
    int response = -1;
    QUrl url;
    int calls = 0;
};

FilePanelRunner::SaveCompletion recordSaveInto(SaveAnswer& answer)
{
    return [&answer](int response, const QUrl& url) {
        ++answer.calls;
        answer.response = response;
        answer.url = url;
    };
}

} // namespace

TEST(FilePanelRunner, TheDefaultPanelAllowsDocumentsFromTheDesktop)
{
    const FilePanelRunner::OpenPanel panel;
    EXPECT_EQ(panel.allowedFileTypes, (QStringList{QStringLiteral("corvex"), QStringLiteral("opml")}));
    EXPECT_EQ(panel.nameFilter(), QStringLiteral("*.corvex *.opml"));
    FilePanelRunner::OpenPanel any;
    any.allowedFileTypes.clear();
    EXPECT_EQ(any.nameFilter(), QString());
    // The test main points HOME at the test's own folder: without a desktop there, panels
    // start in the home folder, never in the process's working directory.
    QDir(QDir::homePath() + QStringLiteral("/Desktop")).removeRecursively();
    EXPECT_EQ(FilePanelRunner::desktopDirectory(), QDir::homePath());
    const QString made = desktop();
    EXPECT_EQ(FilePanelRunner::desktopDirectory(), made);
}

TEST(FilePanelRunner, ACompletionRunsOnceAndNeverInsideTheCall)
{
    ScopedVirtualTime time;
    LogCapture log;
    EagerRunner runner;
    Answer answer;
    runner.beginOpenPanel({}, nullptr, recordInto(answer));
    EXPECT_EQ(answer.calls, 0);
    time.runDue();
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.response, int(FilePanelRunner::OK));
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure: Open panel answered twice")), 1);
}

TEST(ScriptedFilePanelRunner, AQueuedAnswerCompletesOnTheMainQueue)
{
    ScopedVirtualTime time;
    auto runner = std::make_shared<ScriptedFilePanelRunner>();
    Runners::setFilePanelRunner(runner);
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/home/user/map.corvex"));
    runner->answerOK({file});
    Answer answer;
    Runners::filePanelRunner()->beginOpenPanel({}, nullptr, recordInto(answer));
    EXPECT_EQ(answer.calls, 0);
    time.runDue();
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.response, int(FilePanelRunner::OK));
    EXPECT_EQ(answer.urls, QList<QUrl>{file});
    ASSERT_EQ(runner->presentedCount(), 1);
    // The runner sees the folder filled in.
    EXPECT_EQ(runner->presented()[0].panel.directory, FilePanelRunner::desktopDirectory());
    EXPECT_EQ(runner->presented()[0].panel.nameFilter(), QStringLiteral("*.corvex *.opml"));
}

TEST(ScriptedFilePanelRunner, WithoutAnAnswerThePanelStaysOpenUntilTheTestResponds)
{
    ScopedVirtualTime time;
    ScriptedFilePanelRunner runner;
    Answer first;
    Answer second;
    FilePanelRunner::OpenPanel panel;
    panel.directory = QStringLiteral("/srv/maps");
    runner.beginOpenPanel(panel, nullptr, recordInto(first));
    runner.beginOpenPanel({}, nullptr, recordInto(second));
    time.runDue();
    EXPECT_EQ(first.calls, 0);
    EXPECT_EQ(runner.openPanels(), 2u);
    EXPECT_EQ(runner.presented()[0].panel.directory, QStringLiteral("/srv/maps"));

    // A cancel carries no files, whatever the test passes.
    EXPECT_TRUE(runner.respond(FilePanelRunner::Cancel, {QUrl::fromLocalFile(QStringLiteral("/x"))}));
    time.runDue();
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(first.response, int(FilePanelRunner::Cancel));
    EXPECT_TRUE(first.urls.isEmpty());
    EXPECT_EQ(second.calls, 0);
    runner.answerCancel();
    EXPECT_TRUE(runner.respond(FilePanelRunner::OK, {QUrl::fromLocalFile(QStringLiteral("/y.opml"))}));
    EXPECT_FALSE(runner.respond(FilePanelRunner::OK));
    time.runDue();
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(second.response, int(FilePanelRunner::OK));
    // The queued cancel waits for the next panel.
    EXPECT_EQ(runner.pendingAnswers(), 1u);
}

TEST(QtFilePanelRunner, OpensTheDialogWithTheFilterAndTheDesktopAndAnswersCancelOnReject)
{
    const QString folder = desktop();
    QtFilePanelRunner runner;
    Answer answer;
    runner.beginOpenPanel({}, nullptr, recordInto(answer));
    EXPECT_EQ(answer.calls, 0);
    QPointer<QFileDialog> dialog;
    ASSERT_TRUE(runUntil([&] { return (dialog = visibleFileDialog()) != nullptr; }));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("*.corvex *.opml")});
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(folder).canonicalPath());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    // Without a window it is modal to the application; it never blocks the caller.
    EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);

    QTimer::singleShot(0, dialog.data(), &QDialog::reject);
    ASSERT_TRUE(runUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.response, int(FilePanelRunner::Cancel));
    EXPECT_TRUE(answer.urls.isEmpty());
    // The dialog is gone afterwards.
    EXPECT_TRUE(runUntil([&] { return dialog.isNull(); }));
    processEvents();
    EXPECT_EQ(answer.calls, 1);
}

TEST(QtFilePanelRunner, AcceptingAFileAnswersOKWithItsUrl)
{
    const QString folder = desktop();
    const QString path = folder + QStringLiteral("/Plans.corvex");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{}");
    }
    QtFilePanelRunner runner;
    Answer answer;
    runner.beginOpenPanel({}, nullptr, recordInto(answer));
    QPointer<QFileDialog> dialog;
    ASSERT_TRUE(runUntil([&] { return (dialog = visibleFileDialog()) != nullptr; }));
    dialog->selectFile(path);
    QTimer::singleShot(0, dialog.data(), &QDialog::accept);
    ASSERT_TRUE(runUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.response, int(FilePanelRunner::OK));
    ASSERT_EQ(answer.urls.size(), 1);
    EXPECT_EQ(QFileInfo(answer.urls[0].toLocalFile()).canonicalFilePath(),
              QFileInfo(path).canonicalFilePath());
}

TEST(QtFilePanelRunner, ADialogDestroyedBeforeItEndedAnswersCancel)
{
    desktop();
    QtFilePanelRunner runner;
    Answer answer;
    runner.beginOpenPanel({}, nullptr, recordInto(answer));
    QPointer<QFileDialog> dialog;
    ASSERT_TRUE(runUntil([&] { return (dialog = visibleFileDialog()) != nullptr; }));
    delete dialog.data();
    ASSERT_TRUE(runUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.response, int(FilePanelRunner::Cancel));
    processEvents();
    EXPECT_EQ(answer.calls, 1);
}

TEST(QtFilePanelRunner, OnAWindowTheDialogIsModalToItAndTheCallGoesOn)
{
    desktop();
    auto window = Window::create(Size(400, 300));
    window->makeKeyAndOrderFront();
    QtFilePanelRunner runner;
    Answer answer;
    FilePanelRunner::OpenPanel panel;
    panel.allowedFileTypes = {QStringLiteral("opml")};
    panel.directory = QDir::homePath();
    runner.beginOpenPanel(panel, window.get(), recordInto(answer));
    QPointer<QFileDialog> dialog;
    ASSERT_TRUE(runUntil([&] { return (dialog = visibleFileDialog()) != nullptr; }));
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->parentWidget(), window->hostWidget());
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("*.opml")});
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir::home().canonicalPath());
    QTimer::singleShot(0, dialog.data(), &QDialog::reject);
    ASSERT_TRUE(runUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.response, int(FilePanelRunner::Cancel));
    window->close();
}

TEST(FilePanelRunner, ASavePanelAnswersOnceLaterWithTheAllowedExtensionAdded)
{
    ScopedVirtualTime time;
    LogCapture log;
    EagerRunner runner;
    SaveAnswer answer;
    runner.beginSavePanel({}, nullptr, recordSaveInto(answer));
    EXPECT_EQ(answer.calls, 0);
    time.runDue();
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.response, int(FilePanelRunner::OK));
    EXPECT_EQ(answer.url, QUrl::fromLocalFile(QStringLiteral("/tmp/b.corvex")));
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure: Save panel answered twice")), 1);

    struct Case
    {
        const char* chosen;
        const char* written;
    };
    const FilePanelRunner::SavePanel panel;
    for (const Case& c : {Case{"/d/map", "/d/map.corvex"}, Case{"/d/map.CORVEX", "/d/map.CORVEX"},
                          Case{"/d/map.opml", "/d/map.opml.corvex"}}) {
        EXPECT_EQ(panel.withAllowedExtension(QUrl::fromLocalFile(QString::fromUtf8(c.chosen))),
                  QUrl::fromLocalFile(QString::fromUtf8(c.written)))
            << c.chosen;
    }
}

TEST(ScriptedFilePanelRunner, ASavePanelTakesTheFirstQueuedUrlAndAnEmptyOneCancels)
{
    ScopedVirtualTime time;
    ScriptedFilePanelRunner runner;
    runner.answerOK({QUrl::fromLocalFile(QStringLiteral("/srv/a.corvex"))});
    runner.answerOK({});
    FilePanelRunner::SavePanel panel;
    panel.nameFieldStringValue = QStringLiteral("Plans.corvex");
    SaveAnswer first;
    SaveAnswer second;
    runner.beginSavePanel(panel, nullptr, recordSaveInto(first));
    runner.beginSavePanel(panel, nullptr, recordSaveInto(second));
    time.runDue();
    EXPECT_EQ(first.response, int(FilePanelRunner::OK));
    EXPECT_EQ(first.url, QUrl::fromLocalFile(QStringLiteral("/srv/a.corvex")));
    EXPECT_EQ(second.response, int(FilePanelRunner::Cancel));
    ASSERT_EQ(runner.presentedSaves().size(), 2u);
    EXPECT_EQ(runner.presentedSaves()[0].panel.directory, FilePanelRunner::desktopDirectory());
    EXPECT_EQ(runner.presentedSaves()[0].panel.nameFieldStringValue, QStringLiteral("Plans.corvex"));
    EXPECT_EQ(runner.presentedCount(), 0);
}

TEST(QtFilePanelRunner, TheSaveDialogIsModalToTheWindowProposesTheNameAndAddsTheSuffix)
{
    const QString folder = desktop();
    auto window = Window::create(Size(400, 300));
    window->makeKeyAndOrderFront();
    QtFilePanelRunner runner;
    SaveAnswer answer;
    FilePanelRunner::SavePanel panel;
    panel.nameFieldStringValue = QStringLiteral("Plans.corvex");
    runner.beginSavePanel(panel, window.get(), recordSaveInto(answer));
    QPointer<QFileDialog> dialog;
    ASSERT_TRUE(runUntil([&] { return (dialog = visibleFileDialog()) != nullptr; }));
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->parentWidget(), window->hostWidget());
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("*.corvex")});
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("corvex"));
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(folder).canonicalPath());
    ASSERT_FALSE(dialog->selectedFiles().isEmpty());
    EXPECT_EQ(QFileInfo(dialog->selectedFiles().first()).fileName(), QStringLiteral("Plans.corvex"));
    dialog->selectFile(folder + QStringLiteral("/Other"));
    QTimer::singleShot(0, dialog.data(), &QDialog::accept);
    ASSERT_TRUE(runUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.response, int(FilePanelRunner::OK));
    EXPECT_EQ(QFileInfo(answer.url.toLocalFile()).fileName(), QStringLiteral("Other.corvex"));
    window->close();
}
