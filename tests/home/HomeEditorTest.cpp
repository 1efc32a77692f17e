// The real idea editor opened from the home screen's grid: an edit of a document's root
// reaches the location's file; an editor closed unchanged leaves the file as it was.

#include "home/HomeViewController.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/home/HomeScreenRig.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using Op = TestFolderPersistenceState::Operation;

struct StoredFile
{
    explicit StoredFile(const QString& path) : modified(QFileInfo(path).lastModified())
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
    }
    bool operator==(const StoredFile& other) const
    {
        return bytes == other.bytes && modified == other.modified;
    }
    QByteArray bytes;
    QDateTime modified;
};

// Double-click edit of a document's planet with the real editor; answers the editor shown.
std::shared_ptr<EditIdeaViewController> editFromGrid(HomeScreenRig& rig, HomeViewController& screen,
                                                     RecordingIdeaEditorFactory& factory,
                                                     const QString& docIdentifier)
{
    factory.last.reset();
    screen.onDrillDownTo(docIdentifier, true);
    if (!rig.settle([&] { return factory.last && popoverWindow(*factory.last) && titleEdit(*factory.last); }))
        return nullptr;
    return factory.last;
}

TEST(HomeScreenEditor, ARootEditedFromTheGridIsOnDiskAndAnUnchangedEditorLeavesTheFile)
{
    HomeScreenRig rig(3, {}, true);
    auto factory = std::make_shared<RecordingIdeaEditorFactory>();
    const auto previousFactory = EditorFactory::current();
    EditorFactory::setCurrent(factory);
    auto screen = rig.show();
    const QStringList documents = rig.identifiers();
    ASSERT_EQ(documents.size(), 3);

    auto editor = editFromGrid(rig, *screen, *factory, documents[1]);
    ASSERT_TRUE(editor);
    QLineEdit* title = titleEdit(*editor);
    title->selectAll();
    QTest::keyClicks(title, QStringLiteral("Renamed at home"));
    QTest::keyClick(title, Qt::Key_Escape); // keeps what was typed, as Done does
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0 && rig.state->callCount(Op::Update) == 1; }));
    const auto stored = rig.state->storedTree(documents[1]);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->text(), QStringLiteral("Renamed at home"));

    // Closed without a change, by Escape and by a click outside: no write at all.
    const StoredFile before(rig.state->documentPath(documents[2]));
    ASSERT_FALSE(before.bytes.isEmpty());
    editor = editFromGrid(rig, *screen, *factory, documents[2]);
    ASSERT_TRUE(editor);
    QTest::keyClick(titleEdit(*editor), Qt::Key_Escape);
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0; }));
    editor = editFromGrid(rig, *screen, *factory, documents[2]);
    ASSERT_TRUE(editor);
    clickAt(*rig.window, Point(3, 3), &rig.base.time);
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0 && !screen->screenOccupied(); }));
    rig.drain();
    EXPECT_EQ(rig.state->callCount(Op::Update), 1);
    EXPECT_TRUE(StoredFile(rig.state->documentPath(documents[2])) == before);
    EditorFactory::setCurrent(previousFactory);
}

} // namespace
} // namespace corvex::test
