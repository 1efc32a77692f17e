#include "tests/export/dialog/ExportDialogRig.h"

#include "export/ImageExporter.h"
#include "export/ShareTypeView.h"
#include "graphics/QVImage.h"
#include "model/Globals.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/Workspace.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "toolkit/RoundedTextButton.h"

#include <QDir>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace corvex::test {

void RecordingEmailOpener::openFileInMail(const QString& path, Completion completion)
{
    paths.append(path);
    // The completion posts its answer to the main queue itself.
    completion(answer);
}

CloudLocation::CloudLocation()
{
    PersistenceStateFactory::registerMaker(2, [this]() -> PersistenceStatePtr {
        state = TestFolderPersistenceState::create(testDir() + QStringLiteral("/icloud"), 2);
        return state;
    });
    Globals::optForICloud(true);
    PersistenceController& storage = PersistenceController::singleton();
    // A controller made earlier hears of the choice through the main queue.
    runUntil([&] { return storage.workspaceForLocation(2) && state; }, 10);
    EXPECT_TRUE(state) << "no back end for location 2";
}

CloudLocation::~CloudLocation()
{
    PersistenceStateFactory::registerMaker(2, {});
}

ObjectID CloudLocation::storeAttachment(const QByteArray& bytes)
{
    const ObjectID identifier = ObjectID::createFromData(bytes, QStringLiteral("png"));
    if (state)
        writeFile(state->attachmentsFolder() + QLatin1Char('/') + identifier.asString(), bytes);
    attachments.insert(identifier.asString(), bytes);
    return identifier;
}

IdeaPtr CloudLocation::treeWithPictures()
{
    IdeaPtr root = Idea::initWithText(QStringLiteral("Trip \u2708"));
    IdeaPtr day = Idea::initWithText(QStringLiteral("Day 1"));
    day->setNote(QStringLiteral("Pack the bags\nand the map"));
    (void)root->addIdea(day);
    (void)day->addIdea(Idea::initWithImageAttachment(QVImage::initWithPNGData(makeSmallPicturePng(1)),
                                                     storeAttachment(makeSmallPicturePng(11))));
    IdeaPtr second = Idea::initWithText(QStringLiteral("Day 2 <&> \"quoted\""));
    (void)root->addIdea(second);
    (void)second->addIdea(Idea::initWithImageAttachment(QVImage::initWithPNGData(makeSmallPicturePng(2)),
                                                        storeAttachment(makeSmallPicturePng(12))));
    (void)second->addIdea(Idea::initWithURL(QStringLiteral("https://example.invalid/route"), QVImage()));
    return root;
}

DialogRig::DialogRig(IdeaPtr root, StorageLocation location, double width)
    : panels(std::make_shared<ScriptedFilePanelRunner>()), alerts(std::make_shared<ScriptedAlertRunner>()),
      window(Window::create(Size(width, 370)))
{
    registerWebExportPreview();
    Runners::setFilePanelRunner(panels);
    Runners::setAlertRunner(alerts);
    EmailOpener::setCurrent(mail);
    dialog = SharingViewController::initWithIdea(root, location,
                                                 QDateTime(QDate(2026, 3, 14), QTime(9, 26), Qt::UTC));
    dialog->setDelegate(dismissal);
    window->setContentView(dialog->view());
    window->makeKeyAndOrderFront();
    dialog->viewDidAppear();
}

DialogRig::~DialogRig()
{
    window->close();
    EmailOpener::setCurrent(nullptr);
    Runners::reset();
}

std::shared_ptr<ShareTypeView> DialogRig::select(quint64 shareType)
{
    dialog->selectShareType(shareType);
    return dialog->shareTypeView(shareType);
}

bool DialogRig::exportTo(quint64 shareType, const QString& destination)
{
    const auto pane = select(shareType);
    if (!pane)
        return false;
    const int before = dismissal->requests;
    panels->answerOK({QUrl::fromLocalFile(destination)});
    pane->roundedTextButtonPressed(*pane->exportButton());
    EXPECT_TRUE(runUntil(
        [&] {
            return dismissal->requests > before ||
                   (pane->userInteractionEnabled() && panels->pendingAnswers() == 0);
        },
        30))
        << "the export did not end";
    return dismissal->requests > before;
}

void DialogRig::sendByEmail(quint64 shareType)
{
    const auto pane = select(shareType);
    if (!pane)
        return;
    const int alertsBefore = alerts->presentedCount();
    const int mailsBefore = int(mail->paths.size());
    pane->roundedTextButtonPressed(*pane->shareButton());
    const auto mailed = [&] { return int(mail->paths.size()) > mailsBefore; };
    EXPECT_TRUE(runUntil([&] { return mailed() || alerts->presentedCount() > alertsBefore; }, 30));
    // A failing opener's alert comes after its answer.
    if (mailed() && !mail->answer)
        runUntil([&] { return alerts->presentedCount() > alertsBefore; }, 5);
}

QImage DialogRig::render(const QString& name)
{
    const QImage image = window->renderToImage(1.0);
    const QString folder = testOutputDir() + QStringLiteral("/export-dialog");
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    return image;
}

QString exportFolder()
{
    const QString folder = testDir() + QStringLiteral("/exports");
    QDir().mkpath(folder);
    return folder;
}

bool toolAccepts(const QString& program, const QStringList& arguments)
{
    const ProgramRun run = runProgramToEnd(program, arguments);
    EXPECT_TRUE(run.ran && run.exitCode == 0)
        << program.toStdString() << " " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
        << run.output.constData();
    return run.ran && run.exitCode == 0;
}

} // namespace corvex::test
