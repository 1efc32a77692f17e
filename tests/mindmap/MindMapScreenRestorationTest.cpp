// A local file's window restored after a quit: what it shows is chosen by what the file holds
// now against what it held when the kept copy was last in step with it, and in every case the
// file and the unsaved edits both survive.

#include "formats/DocumentFormats.h"
#include "formats/ExportImport.h"
#include "mindmap/KeptCopyRecord.h"
#include "platform/core/FileFingerprint.h"
#include "storage/DocumentImporter.h"
#include "storage/PersistenceController.h"
#include "storage/TempLocationManager.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseViewController.h"

#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

// The tree of a Corvex file as a later open reads it; "(gone)" when there is none.
QString fileOutline(MindMapScreenRig& rig, const QString& path)
{
    if (!QFile::exists(path))
        return QStringLiteral("(gone)");
    QString answer = QStringLiteral("(not read)");
    bool done = false;
    ExportImport::importDocument(
        QUrl::fromLocalFile(path), [](const ObjectID&, const QByteArray&, auto stored) { stored(true); },
        [&](const DocumentImporter::Read& read) {
            answer = read.ok() ? outline(read.value()->idea()) : QStringLiteral("(unreadable)");
            done = true;
        });
    rig.settle([&] { return done; });
    return answer;
}

// The tree written into the file as a save does.
bool writeArchive(MindMapScreenRig& rig, const QString& path, const QString& tree)
{
    const auto archive = IdeaDocument::initWithFileName(path, IdeaDocument::TemporaryLocation);
    archive->setIdea(treeFromOutline(tree));
    std::optional<bool> written;
    ExportImport::exportDocument(archive, QUrl::fromLocalFile(path),
                                 [&written](const Status& status) { written = status.ok(); });
    return rig.settle([&] { return written.has_value(); }) && *written;
}

} // namespace

TEST(MindMapScreenRestoration, TheWindowShowsWhatTheFileHoldsAndTheEditsAreKeptBesideIt)
{
    enum class Away
    {
        Untouched,
        Replaced,
        Removed
    };
    struct Row
    {
        const char* what;
        const char* edit;      // added in the session; null for none
        bool keptCopyFull;     // the kept copy cannot be written, and Ctrl+S saves into the file
        Away file;             // what happens to the file while Corvex is away
        bool olderState;       // the state has no record (saved before there were any)
        const char* shown;     // the restored window's tree
        bool edited;           // the restored window is edited
        const char* keptApart; // the tree of the edits' own window; null for none
        const char* fileNow;   // the file after the restoration
    };
    const Row rows[] = {
        {"file unchanged: the kept copy, with its edits", "mine", false, Away::Untouched, false,
         "Trip(a mine)", true, nullptr, "Trip(a)"},
        {"file changed, no unsaved edits: the file", nullptr, false, Away::Replaced, false, "Trip(a theirs)",
         false, nullptr, "Trip(a theirs)"},
        {"both changed: the file, and the edits apart", "mine", false, Away::Replaced, false,
         "Trip(a theirs)", false, "Trip(a mine)", "Trip(a theirs)"},
        {"file gone: the kept copy", "mine", false, Away::Removed, false, "Trip(a mine)", true, nullptr,
         "(gone)"},
        {"kept copy not written, saved into the file: the file", "lost", true, Away::Untouched, false,
         "Trip(a lost)", false, nullptr, "Trip(a lost)"},
        {"an older state: the kept copy, as before", "mine", false, Away::Replaced, true, "Trip(a mine)",
         true, nullptr, "Trip(a theirs)"},
    };
    registerDocumentFormats();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MindMapScreenRig rig;
        const QString path = testDir() + QStringLiteral("/Trip.corvex");
        const QUrl file = QUrl::fromLocalFile(path);
        ASSERT_TRUE(writeArchive(rig, path, QStringLiteral("Trip(a)")));

        // The file opened as Corvex opens one: its kept copy, in step with it.
        qint64 token = 0;
        const auto opened = rig.createDocument(treeFromOutline(QStringLiteral("Trip(a)")), token);
        opened->setRepresentativeURL(file);
        opened->setFileInStep(FileFingerprint::of(path).value());
        auto session = rig.makeWindow();
        auto screen = rig.showDocument(opened, token, QString(), session.get());
        std::optional<FaultShim> full;
        if (row.keptCopyFull) {
            full.emplace();
            full->failWritesUnder(TempLocationManager::baseDocURL().toLocalFile().toStdString(), ENOSPC);
        }
        if (row.edit) {
            screen->addNewIdeaAfterIndex(0, Idea::initWithText(QLatin1String(row.edit)));
            ASSERT_TRUE(rig.settle(*screen));
        }
        if (row.keptCopyFull) {
            ASSERT_TRUE(screen->unsavedChanges().has_value()) << "the kept copy was written";
            screen->qvSaveLocalFile();
            ASSERT_TRUE(
                rig.settle([&] { return opened->fileInStep() == FileFingerprint::of(path).value(); }));
        }
        ValueDictionary state = screen->createState();
        if (row.olderState) {
            for (const char* key :
                 {"fileSize", "fileModified", "fileSHA1", "keptCopyHoldsEdits", "keptCopyBehind"})
                ASSERT_TRUE(state.remove(QLatin1String(key)));
        }

        // Quit: the process ends with its handle, the disk has room again.
        session->switchToViewController(BaseViewController::create(), false, {});
        screen.reset();
        PersistenceController& storage = PersistenceController::singleton();
        storage.releaseDocument(opened, token);
        bool forgotten = false;
        storage.deleteDocument(opened->docIdentifier(), [&forgotten](bool) { forgotten = true; });
        ASSERT_TRUE(rig.settle([&] { return forgotten; }));
        full.reset();
        if (row.file == Away::Replaced) {
            ASSERT_TRUE(writeArchive(rig, path, QStringLiteral("Trip(a theirs)")));
        } else if (row.file == Away::Removed) {
            ASSERT_TRUE(QFile::remove(path));
        }

        auto window = rig.makeWindow();
        auto restored = SolarSystemViewController::initForRestoration();
        window->switchToViewController(restored, false, {});
        ASSERT_TRUE(restored->restoreFromState(state));
        ASSERT_TRUE(rig.settle([&] {
            return restored->solarSystemState() == SolarSystemViewController::StateMindMap &&
                   restored->savesInFlight() == 0;
        }));
        EXPECT_EQ(outline(restored->rootIdea()).toStdString(), row.shown);
        EXPECT_EQ(window->isDocumentEdited(), row.edited);
        EXPECT_EQ(window->title().toStdString(), "Trip.corvex");
        EXPECT_EQ(restored->document()->representativeURL(), file);
        // The kept copy holds what the window shows.
        const QString keptCopy = storedPath(*restored->document());
        EXPECT_TRUE(rig.settle([&] { return outline(readStoredTree(keptCopy)) == QLatin1String(row.shown); }))
            << outline(readStoredTree(keptCopy)).toStdString();
        EXPECT_EQ(fileOutline(rig, path).toStdString(), row.fileNow);

        if (!row.keptApart) {
            EXPECT_TRUE(rig.app->openedInNewWindow.isEmpty());
            continue;
        }
        // The edits in a window of their own: no file, so that only the user's Save writes them.
        ASSERT_EQ(rig.app->openedInNewWindow.size(), 1);
        const QString apart = rig.app->openedInNewWindow.front().section(QLatin1Char('#'), 0, 0);
        EXPECT_NE(apart, restored->document()->docIdentifier());
        const auto kept = storage.findDocument(apart);
        ASSERT_TRUE(kept);
        qint64 keptToken = 0;
        storage.openDocument(kept, [&keptToken](qint64 answer) { keptToken = answer; });
        ASSERT_TRUE(rig.settle([&] { return keptToken != 0; }));
        auto second = rig.makeWindow();
        const auto edits = rig.showDocument(kept, keptToken, QString(), second.get());
        EXPECT_EQ(outline(edits->rootIdea()).toStdString(), row.keptApart);
        EXPECT_EQ(second->title().toStdString(), "Trip.corvex (unsaved changes)");
        EXPECT_TRUE(second->isDocumentEdited());
        EXPECT_TRUE(kept->representativeURL().isEmpty());
        EXPECT_EQ(outline(readStoredTree(storedPath(*kept))).toStdString(), row.keptApart);
        // Saved with the window, it comes back as the same document under the same name.
        const ValueDictionary keptState = edits->createState();
        EXPECT_EQ(keptState.value(QStringLiteral("unsavedChangesOf")).toString(),
                  QStringLiteral("Trip.corvex"));
        EXPECT_FALSE(KeptCopyRecord::readFrom(keptState).has_value());
    }
}

} // namespace corvex::test
