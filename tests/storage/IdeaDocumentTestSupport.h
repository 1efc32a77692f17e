#pragma once

// Shared pieces of the stored-document tests: trees, files, blocking wrappers around the
// document's asynchronous operations (every completion through a CompletionRecorder), a
// counter of the document reads, and a recorder of non-fatal errors.

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/NonFatalErrorRecorder.h"
#include "platform/core/SysCalls.h"
#include "storage/IdeaDocument.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace corvex::test {

inline QString documentsFolder(const QString& name = QStringLiteral("documents"))
{
    const QString folder = testDir() + QLatin1Char('/') + name;
    QDir().mkpath(folder);
    return folder;
}

inline QString documentPath(const QString& fileName, const QString& folder = QStringLiteral("documents"))
{
    return documentsFolder(folder) + QLatin1Char('/') + fileName;
}

inline QUrl fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

// Root "text" with three children, the middle one with a child of its own.
inline IdeaPtr smallTree(const QString& text)
{
    auto root = Idea::initWithText(text, QStringLiteral("idroot_1"));
    auto a = Idea::initWithText(QStringLiteral("first child"), QStringLiteral("ida_1"));
    auto b = Idea::initWithText(QStringLiteral("second child"), QStringLiteral("idb_1"));
    auto c = Idea::initWithText(QStringLiteral("third child"), QStringLiteral("idc_1"));
    auto d = Idea::initWithText(QStringLiteral("grandchild"), QStringLiteral("idd_1"));
    EXPECT_TRUE(root->addIdea(a) && root->addIdea(b) && root->addIdea(c) && b->addIdea(d));
    return root;
}

// A document factory tree of `ideas` ideas, decoded by the model.
inline IdeaPtr factoryTree(int ideas, quint32 seed = 1)
{
    auto payload =
        IdeaDocumentDataObject::readFromJSONData(makePayloadJson(makeDocumentTree(ideas, 8, seed)));
    EXPECT_TRUE(payload != nullptr);
    return payload ? payload->idea() : nullptr;
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline IdeaDocumentDataObjectPtr readBack(const QString& path)
{
    return IdeaDocumentDataObject::readFromSomeData(fileBytes(path));
}

inline QString storedTree(const QString& path)
{
    auto payload = readBack(path);
    return payload && payload->idea() ? payload->idea()->debugDescription() : QStringLiteral("(unreadable)");
}

// Writes a stored document (compressed) with the tree, as a save of this instance would.
inline void writeDocumentFile(const QString& path, const IdeaPtr& root)
{
    auto payload = IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime());
    auto bytes = payload->corvexData();
    ASSERT_TRUE(bytes.ok());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes.value()), bytes.value().size());
}

// Files of the folder other than `except`.
inline QStringList otherFiles(const QString& folder, const QString& except)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(except);
    return names;
}

// ---- Blocking wrappers

inline qint64 openDocument(IdeaDocument& document, const QUrl& url)
{
    CompletionRecorder recorder;
    qint64 token = -1;
    document.openFromURL(url,
                         recorder.expect<qint64>(QStringLiteral("open"),
                                                 std::function<void(qint64)>([&](qint64 t) { token = t; })));
    EXPECT_TRUE(recorder.waitAll());
    return token;
}

inline qint64 createDocument(IdeaDocument& document, const QUrl& url)
{
    CompletionRecorder recorder;
    qint64 token = -1;
    document.createAtURL(url,
                         recorder.expect<qint64>(QStringLiteral("create"),
                                                 std::function<void(qint64)>([&](qint64 t) { token = t; })));
    EXPECT_TRUE(recorder.waitAll());
    return token;
}

inline bool updateDocument(IdeaDocument& document, qint64 token)
{
    CompletionRecorder recorder;
    bool answer = false;
    document.updateWithToken(token,
                             recorder.expect<bool>(QStringLiteral("update"),
                                                   std::function<void(bool)>([&](bool ok) { answer = ok; })));
    EXPECT_TRUE(recorder.waitAll());
    return answer;
}

inline bool readDocument(IdeaDocument& document, const QUrl& url)
{
    CompletionRecorder recorder;
    bool answer = false;
    document.readFromURL(url,
                         recorder.expect<bool>(QStringLiteral("read"),
                                               std::function<void(bool)>([&](bool ok) { answer = ok; })));
    EXPECT_TRUE(recorder.waitAll());
    return answer;
}

inline void closeDocument(IdeaDocument& document, qint64 token)
{
    CompletionRecorder recorder;
    document.closeWithToken(token, recorder.expect<>(QStringLiteral("close")));
    EXPECT_TRUE(recorder.waitAll());
}

// ---- Counting the reads of documents

// Counts read-only opens through SysCalls (document reads; lock files open read-write, and
// saves write-only) while it lives. Installs SysCalls hooks: not with a FaultShim.
class ReadCounter
{
public:
    ReadCounter()
    {
        {
            std::lock_guard lock(mutex());
            paths().clear();
        }
        SysCalls::Hooks hooks;
        hooks.open = &ReadCounter::countingOpen;
        SysCalls::installHooks(hooks);
    }
    ~ReadCounter() { SysCalls::removeHooks(); }
    ReadCounter(const ReadCounter&) = delete;
    ReadCounter& operator=(const ReadCounter&) = delete;

    int reads(const QString& path) const
    {
        std::lock_guard lock(mutex());
        return int(std::count(paths().begin(), paths().end(), QFile::encodeName(path)));
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<QByteArray>& paths()
    {
        static std::vector<QByteArray> list;
        return list;
    }
    static int countingOpen(const char* path, int flags, mode_t mode)
    {
        if ((flags & O_ACCMODE) == O_RDONLY && (flags & O_DIRECTORY) == 0) {
            std::lock_guard lock(mutex());
            paths().emplace_back(path);
        }
        return ::open(path, flags, mode);
    }
};

// A fixed wall clock, for names and dates made from "now" (the controller stamps its dates
// with it too).
class ScopedWallClock
{
public:
    explicit ScopedWallClock(double seconds)
    {
        mPrevious = Globals::setWallClock([seconds] { return seconds; });
    }
    ~ScopedWallClock() { Globals::setWallClock(mPrevious); }
    ScopedWallClock(const ScopedWallClock&) = delete;
    ScopedWallClock& operator=(const ScopedWallClock&) = delete;

private:
    Globals::WallClock mPrevious;
};

// The keyed-archive dumper of tests/data/gen, which shows an archive as plistlib reads it.
inline QString dumpKeyedArchiveScript()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../data/gen/dump_keyed_archive.py"));
}

// ---- Non-fatal errors

class RecordingErrorRecorder : public NonFatalErrorRecorder
{
public:
    void recordError(const Error& error) override
    {
        std::lock_guard lock(mMutex);
        mErrors.push_back(error);
    }
    std::vector<Error> errors() const
    {
        std::lock_guard lock(mMutex);
        return mErrors;
    }
    QStringList descriptions() const
    {
        QStringList texts;
        for (const Error& error : errors())
            texts.append(error.localizedDescription());
        return texts;
    }

private:
    mutable std::mutex mMutex;
    std::vector<Error> mErrors;
};

class ScopedErrorRecorder
{
public:
    ScopedErrorRecorder() : recorder(std::make_shared<RecordingErrorRecorder>())
    {
        mPrevious = NonFatalErrorRecorder::install(recorder);
    }
    ~ScopedErrorRecorder() { NonFatalErrorRecorder::install(mPrevious); }
    ScopedErrorRecorder(const ScopedErrorRecorder&) = delete;
    ScopedErrorRecorder& operator=(const ScopedErrorRecorder&) = delete;

    std::shared_ptr<RecordingErrorRecorder> recorder;

private:
    std::shared_ptr<NonFatalErrorRecorder> mPrevious;
};

} // namespace corvex::test
