// Change notices of open documents: writes by another instance of the program (a child
// process) are read, applied and announced once; this instance's own writes never are.

#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/FileChangeWatcher.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SerialQueue.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaFilePresenter.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::runUntil;
using corvex::test::ScopedVirtualTime;

// Another instance of the program: opens the document, gives its root a new text, saves
// and closes it. args: path, new root text. Prints "saved <instance>" or "failed".
CORVEX_TEST_HELPER(ideaDocumentForeignEdit)
{
    auto document = IdeaDocument::initWithFileName(QStringLiteral("foreign.crvx"), 1);
    qint64 token = 0;
    bool opened = false;
    document->openFromURL(QUrl::fromLocalFile(args.value(0)), [&](qint64 t) {
        token = t;
        opened = true;
    });
    bool saved = false;
    bool answered = false;
    if (runUntil([&] { return opened; }) && token > 0) {
        document->idea()->setText(args.value(1));
        document->updateWithToken(token, [&](bool ok) {
            saved = ok;
            answered = true;
        });
        runUntil([&] { return answered; });
        document->closeWithToken(token);
    }
    std::printf("%s %s\n", saved ? "saved" : "failed", qPrintable(Globals::appInstance()));
    std::fflush(stdout);
    return saved ? 0 : 1;
}

namespace {

// Saves through the helper; answers the helper's instance identifier.
QString foreignEdit(const QString& path, const QString& rootText)
{
    auto helper = test::HelperProcess::start(QStringLiteral("ideaDocumentForeignEdit"), {path, rootText});
    EXPECT_TRUE(helper);
    if (!helper)
        return QString();
    const QByteArray line = helper->readLine().value_or("nothing");
    EXPECT_TRUE(line.startsWith("saved ")) << line.toStdString();
    EXPECT_EQ(helper->wait(), 0);
    return QString::fromUtf8(line.mid(6));
}

FileChangeWatcher& watcher()
{
    return FileChangeWatcher::instance();
}

// Pumps Qt's loop (inotify, completions) and moves virtual time past the debounce whenever
// a look is pending, until the predicate holds.
bool pumpUntil(ScopedVirtualTime& time, const std::function<bool()>& predicate)
{
    return runUntil([&] {
        if (watcher().hasPendingChecks())
            time.advance(FileChangeWatcher::DebounceSeconds);
        return predicate();
    });
}

// Whatever could still arrive has arrived: events read, debounces run, re-reads answered.
void settle(ScopedVirtualTime& time)
{
    for (int i = 0; i < 4; ++i) {
        test::processEvents();
        time.advance(FileChangeWatcher::DebounceSeconds * 2);
        for (const auto& presenter : FileCoordinator::filePresenters()) {
            if (auto* queue = presenter->presentedItemQueue())
                queue->sync([] {});
        }
        runUntil([] { return false; }, 0.05);
    }
}

// Counts the change notifications of one document.
class ChangeCounter
{
public:
    explicit ChangeCounter(const IdeaDocument& document)
    {
        mToken = NotificationCenter::defaultCenter().addObserver(
            IdeaDocument::ChangedNotification, &document,
            [this](const NotificationCenter::Notification&) { ++mCount; });
    }
    ~ChangeCounter() { NotificationCenter::defaultCenter().removeObserver(mToken); }
    ChangeCounter(const ChangeCounter&) = delete;
    ChangeCounter& operator=(const ChangeCounter&) = delete;

    int count() const { return mCount; }

private:
    NotificationCenter::ObserverToken mToken;
    int mCount = 0;
};

struct OpenDocument
{
    QString path;
    std::shared_ptr<IdeaDocument> document;
    qint64 token = 0;
};

OpenDocument openStored(const QString& name, const QString& rootText)
{
    OpenDocument open;
    open.path = test::documentPath(name);
    test::writeDocumentFile(open.path, test::smallTree(rootText));
    open.document = IdeaDocument::initWithFileName(name, 1);
    open.token = test::openDocument(*open.document, test::fileUrl(open.path));
    EXPECT_GT(open.token, 0);
    return open;
}

} // namespace

TEST(IdeaDocumentChangeNotice, AnotherInstancesWriteReplacesTheTreeAndIsAnnouncedOnce)
{
    ScopedVirtualTime time;
    OpenDocument open = openStored(QStringLiteral("shared.crvx"), QStringLiteral("Before"));
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders().contains(test::documentsFolder()); }));
    ChangeCounter changes(*open.document);
    const IdeaPtr before = open.document->idea();

    const QString instance = foreignEdit(open.path, QStringLiteral("Written elsewhere"));
    ASSERT_NE(instance, Globals::appInstance()) << "the child is another instance";
    ASSERT_TRUE(pumpUntil(time, [&] { return changes.count() >= 1; }));
    settle(time);
    EXPECT_EQ(changes.count(), 1);
    ASSERT_NE(open.document->idea(), nullptr);
    EXPECT_NE(open.document->idea(), before) << "the tree was replaced";
    EXPECT_EQ(open.document->idea()->text(), QStringLiteral("Written elsewhere"));
    EXPECT_EQ(open.document->appInstance(), instance);
    EXPECT_TRUE(open.document->goodToken(open.token));

    // Our next save writes the new tree, as our own.
    open.document->idea()->setText(QStringLiteral("Answered here"));
    EXPECT_TRUE(test::updateDocument(*open.document, open.token));
    auto stored = test::readBack(open.path);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->idea()->text(), QStringLiteral("Answered here"));
    EXPECT_EQ(stored->appInstance(), Globals::appInstance());
}

TEST(IdeaDocumentChangeNotice, OurOwnSaveIsNeverAnnouncedWhileAForeignWriteToASecondDocumentIs)
{
    ScopedVirtualTime time;
    OpenDocument first = openStored(QStringLiteral("first.crvx"), QStringLiteral("First"));
    OpenDocument second = openStored(QStringLiteral("second.crvx"), QStringLiteral("Second"));
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders().contains(test::documentsFolder()); }));
    ChangeCounter firstChanges(*first.document);
    ChangeCounter secondChanges(*second.document);
    test::ReadCounter reads;

    first.document->idea()->setText(QStringLiteral("First, saved here"));
    const IdeaPtr tree = first.document->idea();
    ASSERT_TRUE(test::updateDocument(*first.document, first.token));
    // The barrier: once the second document hears of the foreign write in the same folder,
    // the events of our own write have been looked at too.
    foreignEdit(second.path, QStringLiteral("Second, written elsewhere"));
    ASSERT_TRUE(pumpUntil(time, [&] { return secondChanges.count() == 1; }));
    settle(time);

    EXPECT_EQ(firstChanges.count(), 0);
    EXPECT_EQ(first.document->idea(), tree);
    EXPECT_EQ(reads.reads(first.path), 0) << "our own write is not even read again";
    EXPECT_EQ(secondChanges.count(), 1);
    EXPECT_EQ(second.document->idea()->text(), QStringLiteral("Second, written elsewhere"));
}

// A write of this instance that another presenter made (a second handle of the same file)
// reaches the first handle as a change: it is read again but neither applied nor announced,
// so edits in the open tree are never replaced by an older copy of themselves.
TEST(IdeaDocumentChangeNotice, ThisInstancesWriteThroughASecondHandleIsReReadButNotApplied)
{
    ScopedVirtualTime time;
    OpenDocument first = openStored(QStringLiteral("twice.crvx"), QStringLiteral("Original"));
    auto other = IdeaDocument::initWithIdentifier(QStringLiteral("file://") + first.path);
    const qint64 otherToken = test::openDocument(*other, test::fileUrl(first.path));
    ASSERT_GT(otherToken, 0);
    ChangeCounter changes(*first.document);
    first.document->idea()->setText(QStringLiteral("Unsaved edit"));
    const IdeaPtr tree = first.document->idea();

    test::ReadCounter reads;
    other->idea()->setText(QStringLiteral("Saved by the second handle"));
    ASSERT_TRUE(test::updateDocument(*other, otherToken));
    ASSERT_TRUE(runUntil([&] { return reads.reads(first.path) >= 1; }))
        << "the first handle reads the file again";
    settle(time);

    EXPECT_EQ(reads.reads(first.path), 1);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(first.document->idea(), tree);
    EXPECT_EQ(first.document->idea()->text(), QStringLiteral("Unsaved edit"));
}

TEST(IdeaDocumentChangeNotice, AClosedDocumentHearsNothing)
{
    ScopedVirtualTime time;
    OpenDocument open = openStored(QStringLiteral("closed.crvx"), QStringLiteral("Before"));
    OpenDocument barrier = openStored(QStringLiteral("barrier.crvx"), QStringLiteral("Barrier"));
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders().contains(test::documentsFolder()); }));
    ChangeCounter changes(*open.document);
    ChangeCounter barrierChanges(*barrier.document);
    test::closeDocument(*open.document, open.token);
    ASSERT_EQ(open.document->idea(), nullptr);

    foreignEdit(open.path, QStringLiteral("Changed while closed"));
    foreignEdit(barrier.path, QStringLiteral("Barrier changed"));
    ASSERT_TRUE(pumpUntil(time, [&] { return barrierChanges.count() == 1; }));
    settle(time);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(open.document->idea(), nullptr) << "a closed document gets no tree back";
}
