// Saving to a ".corvex" file, closing, export and printing on the mind-map screen, through the
// screen's menu actions, scripted panels and alerts, and the files on disk.

#include "formats/DocumentFormats.h"
#include "formats/ExportImport.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/ExportAndPrintSeams.h"
#include "model/Globals.h"
#include "platform/ui/MenuItem.h"
#include "storage/DocumentImporter.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "toolkit/ColoredView.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

// The outline of an archive as ExportImport reads it back.
QString importedOutline(MindMapScreenRig& rig, const QString& path)
{
    QString answer = QStringLiteral("(not read)");
    bool done = false;
    ExportImport::importDocument(
        QUrl::fromLocalFile(path), [](const ObjectID&, const QByteArray&, auto stored) { stored(true); },
        [&](const DocumentImporter::Read& payloadRead) {
            const IdeaDocumentDataObjectPtr payload = DocumentImporter::payloadOf(payloadRead);
            answer = payload ? outline(payload->idea()) : QStringLiteral("(null)");
            done = true;
        });
    rig.settle([&] { return done; });
    return answer;
}

QString lastAlertText(const MindMapScreenRig& rig)
{
    return rig.alerts->presented().empty() ? QString() : rig.alerts->presented().back().informativeText;
}

class RecordingExportScreen final : public ExportScreen
{
public:
    void selectShareType(quint64 type) override { shareType = type; }
    void setDelegate(std::weak_ptr<ExportScreenDelegate> delegate) override
    {
        mDelegate = std::move(delegate);
    }
    void screenProtectorWasClicked() override
    {
        if (auto delegate = mDelegate.lock())
            delegate->pleaseDismissSharingView(*this);
    }
    quint64 shareType = 99;

protected:
    void loadView() override { setView(ColoredView::create(Globals::colorWhite())); }

private:
    std::weak_ptr<ExportScreenDelegate> mDelegate;
};

class RecordingPrinter final : public MapPrinter
{
public:
    void runPrintOperation(Window* window) override { windows.push_back(window); }
    std::vector<Window*> windows;
};

} // namespace

TEST(MindMapScreenFiles, ASavedFileReadsBackAsTheShownTreeAndAFailedSaveLeavesItByteForByte)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("Plans(a(a1) b)")), token);
    const auto screen = rig.showDocument(document, token);
    rig.window->setDocumentEdited(true);
    const QString desktop = QDir::homePath() + QStringLiteral("/Desktop");
    QDir().mkpath(desktop);
    const QString path = desktop + QStringLiteral("/Plans.corvex");
    const QUrl url = QUrl::fromLocalFile(path);

    // Without a file the save asks for one (the extension is added to the typed name).
    rig.filePanels->answerOK({QUrl::fromLocalFile(desktop + QStringLiteral("/Plans"))});
    screen->qvSaveLocalFile();
    ASSERT_TRUE(rig.settle([&] { return !rig.window->isDocumentEdited(); }));
    ASSERT_EQ(rig.filePanels->presentedSaves().size(), 1u);
    EXPECT_EQ(rig.filePanels->presentedSaves()[0].panel.nameFieldStringValue, QStringLiteral("Plans.corvex"));
    EXPECT_EQ(rig.filePanels->presentedSaves()[0].panel.allowedFileTypes,
              QStringList{QStringLiteral("corvex")});
    EXPECT_EQ(rig.window->title(), QStringLiteral("Plans.corvex"));
    EXPECT_EQ(document->representativeURL(), url);
    EXPECT_GE(rig.app->stateWrites, 1);
    EXPECT_EQ(importedOutline(rig, path), outline(document->idea()));

    // Over a file another window shows: refused, nothing written.
    const QString otherPath = desktop + QStringLiteral("/Open.corvex");
    rig.app->fileOpen = true;
    rig.filePanels->answerOK({QUrl::fromLocalFile(otherPath)});
    screen->qvSaveLocalFileAs();
    rig.settle([&] { return rig.filePanels->pendingAnswers() == 0; });
    EXPECT_EQ(lastAlertText(rig), QStringLiteral("Cannot overwrite file that is open"));
    EXPECT_FALSE(QFile::exists(otherPath));

    // A change, then a save to the same file (no panel) whose rename fails.
    screen->addNewIdeaAfterIndex(1, Idea::initWithText(QStringLiteral("c")));
    rig.settle(*screen);
    EXPECT_TRUE(rig.window->isDocumentEdited());
    const QByteArray before = readFile(path);
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Rename, 1, EIO);
        screen->qvSaveLocalFile();
        rig.settle([&] { return lastAlertText(rig).startsWith(QStringLiteral("Failed to save file")); });
    }
    // The usual words, then which file and why.
    EXPECT_TRUE(lastAlertText(rig).startsWith(QStringLiteral("Failed to save file\n\n")))
        << lastAlertText(rig).toStdString();
    EXPECT_TRUE(lastAlertText(rig).contains(QLatin1Char('"') + path + QLatin1Char('"')))
        << lastAlertText(rig).toStdString();
    EXPECT_TRUE(lastAlertText(rig).contains(QString::fromLocal8Bit(::strerror(EIO))))
        << lastAlertText(rig).toStdString();
    EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(rig.window->isDocumentEdited());
    EXPECT_EQ(rig.filePanels->presentedSaves().size(), 2u);

    // Saving as onto its own file is allowed although that file is open.
    rig.filePanels->answerOK({url});
    screen->qvSaveLocalFileAs();
    ASSERT_TRUE(rig.settle([&] { return !rig.window->isDocumentEdited(); }));
    EXPECT_EQ(importedOutline(rig, path), QStringLiteral("Plans(a(a1) b c)"));
}

// A document read from a file of another format (OPML) keeps that file as its name, but
// every save road asks for a Corvex file beside it and none writes into the OPML file.
TEST(MindMapScreenFiles, AFileOfAnotherFormatIsNeverWrittenOverAndSavingOffersACorvexFileBesideIt)
{
    MindMapScreenRig rig;
    const QString folder = testDir() + QStringLiteral("/maps");
    const QString opml = folder + QStringLiteral("/Trip.plan.opml");
    const QByteArray opmlBytes =
        "<?xml version=\"1.0\"?><opml><head><title>Trip</title></head><body/></opml>";
    writeFile(opml, opmlBytes);
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("Trip(a)")), token);
    document->setRepresentativeURL(QUrl::fromLocalFile(opml));
    auto window = std::make_shared<ShellRigWindow>(Size(1000, 800));
    window->orderFront();
    const auto screen = rig.showDocument(document, token, QString(), window.get());
    window->setDocumentEdited(true);

    // Save asks, in the OPML file's folder, with its name as a Corvex file; cancelled, nothing.
    rig.filePanels->answerCancel();
    screen->qvSaveLocalFile();
    rig.settle([&] { return rig.filePanels->pendingAnswers() == 0; });
    ASSERT_EQ(rig.filePanels->presentedSaves().size(), 1u);
    EXPECT_EQ(rig.filePanels->presentedSaves()[0].panel.directory, folder);
    EXPECT_EQ(rig.filePanels->presentedSaves()[0].panel.nameFieldStringValue,
              QStringLiteral("Trip.plan.corvex"));
    EXPECT_TRUE(window->isDocumentEdited());

    // Saving as with a typed OPML name gets the Corvex extension added.
    rig.filePanels->answerOK({QUrl::fromLocalFile(opml)});
    screen->qvSaveLocalFileAs();
    ASSERT_TRUE(rig.settle([&] { return !window->isDocumentEdited(); }));
    EXPECT_EQ(rig.filePanels->presentedSaves()[1].panel.directory, folder);
    EXPECT_EQ(document->representativeURL(), QUrl::fromLocalFile(opml + QStringLiteral(".corvex")));
    EXPECT_EQ(readFile(opml), opmlBytes);
    EXPECT_EQ(importedOutline(rig, opml + QStringLiteral(".corvex")), QStringLiteral("Trip(a)"));

    // Written straight at an OPML file, or at no file, by anyone: refused, on a later turn.
    CompletionRecorder recorder;
    LogCapture log;
    const auto refused = [&recorder](const QString& name) {
        return recorder.expect<const MyResultPtr&>(
            name, std::function<void(const MyResultPtr&)>([](const MyResultPtr& result) {
                EXPECT_EQ(result->description(), QStringLiteral("Failed to save file"));
            }));
    };
    screen->doSaveLocalFile(QUrl::fromLocalFile(opml), refused(QStringLiteral("an OPML file")));
    screen->doSaveLocalFile(QUrl(QStringLiteral("https://example.invalid/a.corvex")),
                            refused(QStringLiteral("no file")));
    ASSERT_TRUE(rig.settle([&] { return recorder.allCalled(); }));
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(readFile(opml), opmlBytes);

    // Closing an edited document of another format: "Save" asks for the Corvex file too.
    document->setRepresentativeURL(QUrl::fromLocalFile(opml));
    screen->addNewIdeaAfterIndex(1, Idea::initWithText(QStringLiteral("b")));
    rig.settle(*screen);
    window->setDocumentEdited(true);
    rig.alerts->answerTitle(QStringLiteral("Save"));
    rig.filePanels->answerOK({QUrl::fromLocalFile(folder + QStringLiteral("/Trip.plan.corvex"))});
    window->performClose();
    ASSERT_TRUE(rig.settle([&] { return window->closes > 0; }));
    EXPECT_EQ(rig.alerts->presented().back().informativeText,
              QStringLiteral("Do you want save the changes you made?"));
    ASSERT_EQ(rig.filePanels->presentedSaves().size(), 3u);
    EXPECT_EQ(rig.filePanels->presentedSaves()[2].panel.nameFieldStringValue,
              QStringLiteral("Trip.plan.corvex"));
    EXPECT_EQ(readFile(opml), opmlBytes);
    EXPECT_EQ(importedOutline(rig, folder + QStringLiteral("/Trip.plan.corvex")),
              QStringLiteral("Trip(a b)"));
    EXPECT_EQ(folderEntries(folder),
              (QStringList{QStringLiteral("Trip.plan.corvex"), QStringLiteral("Trip.plan.opml"),
                           QStringLiteral("Trip.plan.opml.corvex")}));
}

TEST(MindMapScreenFiles, AnImportedFileWaitsInTheDockAndADamagedOneChangesNothing)
{
    registerDocumentFormats();
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a)")), token);
    const auto screen = rig.showDocument(document, token);
    const QString damaged = testDir() + QStringLiteral("/damaged.corvex");
    // A chunk claiming more bytes than the file holds.
    writeFile(damaged, ExportImport::Magic + QByteArray::fromHex("00001000") + QByteArray("not a payload"));
    const QString good = testDir() + QStringLiteral("/good.corvex");
    CompletionRecorder recorder;
    screen->doSaveLocalFile(
        QUrl::fromLocalFile(good),
        recorder.expect<const MyResultPtr&>(
            QStringLiteral("written"), std::function<void(const MyResultPtr&)>(
                                           [](const MyResultPtr& result) { EXPECT_TRUE(result->isOK()); })));
    ASSERT_TRUE(rig.settle([&] { return recorder.allCalled(); }));
    EXPECT_TRUE(recorder.verify());

    const int alertsBefore = rig.alerts->presentedCount();
    rig.filePanels->answerOK({QUrl::fromLocalFile(damaged)});
    screen->qvImport();
    ASSERT_TRUE(rig.settle([&] { return rig.alerts->presentedCount() > alertsBefore; }));
    EXPECT_FALSE(rig.window->currentDockedIdea());

    rig.filePanels->answerOK({QUrl::fromLocalFile(good)});
    screen->qvImport();
    ASSERT_TRUE(rig.settle([&] { return rig.window->currentDockedIdea() != nullptr; }));
    EXPECT_EQ(outline(rig.window->currentDockedIdea()), QStringLiteral("R(a)"));
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(rig.window->currentDockedDocIdentifier()), 0u);
    EXPECT_FALSE(screen->dockAreaView()->isHidden());
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(a)"));
}

TEST(MindMapScreenFiles, ClosingAnEditedNewDocumentAsksAndEachAnswerDoesWhatItSays)
{
    struct Row
    {
        const char* answer; // null: not edited, nothing asked
        bool cancelPanel;
        bool closes;
    };
    for (const Row& row : {Row{nullptr, false, true}, Row{"Cancel", false, false}, Row{"Save", true, false},
                           Row{"Save", false, true}, Row{"Do Not Save", false, true}}) {
        SCOPED_TRACE(row.answer ? row.answer : "unedited");
        MindMapScreenRig rig;
        qint64 token = 0;
        const auto document = rig.createDocument(treeFromOutline(QStringLiteral("N(a)")), token);
        auto window = std::make_shared<ShellRigWindow>(Size(1000, 800));
        window->orderFront();
        const auto screen = rig.showDocument(document, token, QString(), window.get());
        window->setDocumentEdited(row.answer != nullptr);
        const int alertsBefore = rig.alerts->presentedCount();
        if (row.answer)
            rig.alerts->answerTitle(QLatin1String(row.answer));
        const bool saves = row.answer && QLatin1String(row.answer) == QLatin1String("Save");
        if (saves && row.cancelPanel)
            rig.filePanels->answerCancel();
        else if (saves)
            rig.filePanels->answerOK({QUrl::fromLocalFile(testDir() + QStringLiteral("/N.corvex"))});

        window->performClose();
        rig.settle([&] { return window->closes > 0 || rig.filePanels->pendingAnswers() == 0; });
        rig.settle(*screen);

        EXPECT_EQ(window->closes, row.closes ? 1 : 0);
        EXPECT_EQ(rig.alerts->presentedCount() - alertsBefore, row.answer ? 1 : 0);
        if (row.answer) {
            EXPECT_EQ(rig.alerts->presented()[alertsBefore].informativeText,
                      QStringLiteral("Do you want save the changes you made to the New file?"));
        }
        EXPECT_FALSE(screen->screenOccupied());
        // The document is handed back exactly when the window closes.
        EXPECT_EQ(document->goodToken(token), !row.closes);
        if (saves) {
            EXPECT_EQ(window->isDocumentEdited(), row.cancelPanel);
        }
        window->close();
    }
}

TEST(MindMapScreenFiles, ClosingWithTheEditorOpenClosesItFirstAndTheEditIsStored)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a b)")), token);
    const auto screen = rig.showDocument(document, token);
    EditorScript script;
    script.didChange = true;
    script.title = QStringLiteral("edited");
    rig.editors->next = script;
    screen->onEditIdea(findByText(document->idea(), QStringLiteral("b"))->identifier());
    ASSERT_TRUE(screen->editorOpen());

    EXPECT_TRUE(screen->startClosingCanCloseNow());
    EXPECT_FALSE(screen->editorOpen());
    rig.settle(*screen);
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(a edited)"));
}

TEST(MindMapScreenFiles, ExportAndPrintingGoThroughTheirSeamsOnlyWhileTheScreenIsFree)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a)")), token);
    const auto screen = rig.showDocument(document, token);

    // Nothing registered: logged, nothing shown or occupied.
    {
        LogCapture log;
        screen->qvExport();
        screen->qvPrintIdea();
        EXPECT_TRUE(log.contains(QStringLiteral("no export screen registered")));
        EXPECT_TRUE(log.contains(QStringLiteral("no printing registered")));
        EXPECT_FALSE(screen->screenOccupied());
    }

    std::vector<std::shared_ptr<RecordingExportScreen>> made;
    ExportScreen::setFactory([&](const IdeaPtr& root, StorageLocation location, const QDateTime&) {
        EXPECT_EQ(root, document->idea());
        EXPECT_EQ(location, 0u);
        made.push_back(std::make_shared<RecordingExportScreen>());
        return made.back();
    });
    auto printer = std::make_shared<RecordingPrinter>();
    MapPrinter::setFactory([&](const IdeaPtr&, const QDateTime&) { return printer; });

    screen->launchExportForType(ExportScreen::OPML);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->shareType, quint64(ExportScreen::OPML));
    EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("Sharing"));
    // While it is up, neither a second export nor printing starts.
    screen->qvExport();
    screen->qvPrintIdea();
    EXPECT_EQ(made.size(), 1u);
    EXPECT_TRUE(printer->windows.empty());
    made[0]->screenProtectorWasClicked();
    rig.finishAnimations();
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_FALSE(screen->exportScreen());

    // An open editor keeps its result: no export over it.
    rig.editors->next = EditorScript{};
    screen->onEditIdea(findByText(document->idea(), QStringLiteral("a"))->identifier());
    ASSERT_TRUE(screen->editorOpen());
    screen->launchExportForType(ExportScreen::PDF);
    EXPECT_EQ(made.size(), 1u);
    rig.editors->lastIdeaEditor->close();

    screen->qvPrintIdea();
    ASSERT_EQ(printer->windows.size(), 1u);
    EXPECT_EQ(printer->windows[0], rig.window.get());
    ExportScreen::setFactory({});
    MapPrinter::setFactory({});

    // The save items are for documents of the temporary location; the PDF name carries the
    // local time (09:05 in Central Europe is 08:05 UTC in winter).
    auto save = MenuItem::create(QStringLiteral("Save"));
    save->setActionId(QStringLiteral("qvSaveLocalFile:"));
    EXPECT_TRUE(screen->validateUserInterfaceItem(*save));
    const double at = double(QDateTime(QDate(2024, 2, 3), QTime(8, 5), Qt::UTC).toSecsSinceEpoch());
    const Globals::WallClock previous = Globals::setWallClock([at] { return at; });
    EXPECT_EQ(screen->createPDFFileName(), QStringLiteral("corvex_20240203_0905.pdf"));
    Globals::setWallClock(previous);
}

// ---- A save that cannot be written

namespace {

// A document of the temporary location shown in a window whose closes are counted, with its
// folder full (ENOSPC on every write there) while `full` lives.
struct FullDisk
{
    FullDisk()
    {
        document = rig.createDocument(treeFromOutline(QStringLiteral("Trip(Pack)")), token);
        window->orderFront();
        screen = rig.showDocument(document, token, QString(), window.get());
        full.emplace();
        full->failWritesUnder(QFileInfo(storedPath(*document)).absolutePath().toStdString(), ENOSPC);
    }
    ~FullDisk() { window->close(); }

    // Adds an idea and lets its save answer.
    void addIdea(const QString& text)
    {
        screen->addNewIdeaAfterIndex(0, Idea::initWithText(text));
        rig.settle(*screen);
    }
    bool stored(const QString& text) const
    {
        return outline(readStoredTree(storedPath(*document))).contains(text);
    }

    MindMapScreenRig rig;
    qint64 token = 0;
    std::shared_ptr<IdeaDocument> document;
    std::shared_ptr<ShellRigWindow> window = std::make_shared<ShellRigWindow>(Size(1000, 800));
    std::shared_ptr<SolarSystemViewController> screen;
    std::optional<FaultShim> full;
};

} // namespace

TEST(MindMapScreenFiles, AFailedSaveIsToldOnceAndTriedAgainLaterAndLaterUntilItIsWritten)
{
    FullDisk disk;
    disk.addIdea(QStringLiteral("Tickets"));
    const QString reason = QString::fromLocal8Bit(::strerror(ENOSPC));
    ASSERT_EQ(disk.window->notices.size(), 1);
    EXPECT_TRUE(disk.window->notices.front().startsWith(QStringLiteral("Failed to update document: ")));
    EXPECT_TRUE(disk.window->notices.front().contains(reason)) << disk.window->notices.front().toStdString();
    EXPECT_TRUE(disk.window->isDocumentEdited());
    const auto lost = disk.screen->unsavedChanges();
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->mapName, QStringLiteral("Trip"));
    EXPECT_TRUE(lost->reason.contains(reason));

    // Attempts after 2, 4 and 8 more seconds; room comes back between the second and the
    // third, which then writes the idea: not a moment before it is due.
    disk.rig.time.advance(2.0);
    disk.rig.settle(*disk.screen);
    disk.rig.time.advance(4.0);
    disk.rig.settle(*disk.screen);
    disk.full.reset();
    disk.rig.time.advance(7.9);
    disk.rig.settle(*disk.screen);
    EXPECT_FALSE(disk.stored(QStringLiteral("Tickets"))) << "tried again before its time";
    EXPECT_TRUE(disk.screen->unsavedChanges());
    disk.rig.time.advance(0.1);
    disk.rig.settle(*disk.screen);
    EXPECT_TRUE(disk.stored(QStringLiteral("Tickets")));
    EXPECT_FALSE(disk.screen->unsavedChanges());
    EXPECT_EQ(disk.window->notices.size(), 1) << "each attempt told the user again";
    // Written, nothing more is tried.
    disk.rig.time.advance(100.0);
    disk.rig.settle(*disk.screen);
    EXPECT_EQ(disk.window->notices.size(), 1);
}

TEST(MindMapScreenFiles, SavingWhileASaveFailedTriesAgainAtOnce)
{
    FullDisk disk;
    disk.addIdea(QStringLiteral("Tickets"));
    ASSERT_TRUE(disk.screen->unsavedChanges());
    disk.full.reset();
    disk.rig.filePanels->answerCancel(); // a new document: Save asks for its file
    disk.screen->qvSaveLocalFile();
    disk.rig.settle(*disk.screen);
    EXPECT_TRUE(disk.stored(QStringLiteral("Tickets")));
    EXPECT_FALSE(disk.screen->unsavedChanges());
}

TEST(MindMapScreenFiles, OnceTheFileHoldsEveryEditTheCopysFailuresLoseNothingUntilTheNextEdit)
{
    FullDisk disk;
    disk.addIdea(QStringLiteral("Tickets"));
    ASSERT_TRUE(disk.screen->unsavedChanges());
    const QString path = QDir::homePath() + QStringLiteral("/Trip.corvex");
    disk.rig.filePanels->answerOK({QUrl::fromLocalFile(path)});
    disk.screen->qvSaveLocalFile();
    ASSERT_TRUE(disk.rig.settle([&] { return QFile::exists(path) && disk.screen->savesInFlight() == 0; }));
    // The copy's attempts go on failing (the one Save made at once, then later ones): nothing
    // of the map is unsaved, and the window does not say otherwise.
    for (const double wait : {0.0, 4.0, 8.0}) {
        SCOPED_TRACE(wait);
        disk.rig.time.advance(wait);
        disk.rig.settle(*disk.screen);
        EXPECT_FALSE(disk.window->isDocumentEdited());
        EXPECT_FALSE(disk.screen->unsavedChanges());
    }
    EXPECT_FALSE(disk.stored(QStringLiteral("Tickets")));
    // The next edit is in neither.
    disk.addIdea(QStringLiteral("Passport"));
    EXPECT_TRUE(disk.window->isDocumentEdited());
    EXPECT_TRUE(disk.screen->unsavedChanges());
}

TEST(MindMapScreenFiles, ClosingWithChangesThatCouldNotBeSavedAsksAndCancelKeepsTheWindow)
{
    for (const char* answer : {"Cancel", "Close Anyway"}) {
        SCOPED_TRACE(answer);
        FullDisk disk;
        disk.addIdea(QStringLiteral("Tickets"));
        disk.rig.alerts->answerTitle(QLatin1String(answer));
        disk.window->performClose();
        disk.rig.settle([&] { return disk.rig.alerts->pendingAnswers() == 0; });
        disk.rig.drain();
        ASSERT_EQ(disk.rig.alerts->presentedCount(), 1) << "no second question after the first";
        const Alert& asked = disk.rig.alerts->presented().front();
        EXPECT_EQ(asked.messageText,
                  QStringLiteral("The latest changes to \u201cTrip\u201d could not be saved."));
        EXPECT_TRUE(asked.informativeText.contains(QString::fromLocal8Bit(::strerror(ENOSPC))));
        const bool closes = QLatin1String(answer) == QLatin1String("Close Anyway");
        EXPECT_EQ(disk.window->closes, closes ? 1 : 0);
        EXPECT_EQ(disk.document->goodToken(disk.token), !closes);
        EXPECT_FALSE(disk.screen->screenOccupied());
    }
}

} // namespace corvex::test
