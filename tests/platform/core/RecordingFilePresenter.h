#pragma once

// A file presenter for the coordination tests: it writes what happens to it into a journal
// that outlives it (so a test can check that a destroyed presenter was never called) and
// notes every callback that arrives on a queue other than its own.

#include "platform/core/FileCoordinator.h"
#include "platform/core/FilePresenter.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>

namespace corvex::test {

class FilePresenterJournal
{
public:
    void add(const QString& event)
    {
        std::lock_guard lock(mMutex);
        mEvents.push_back(event);
    }
    QStringList events() const
    {
        std::lock_guard lock(mMutex);
        return mEvents;
    }
    int count(const QString& event) const
    {
        std::lock_guard lock(mMutex);
        return int(mEvents.count(event));
    }

    std::atomic<int> changes{0};
    std::atomic<int> calls{0};         // every callback
    std::atomic<int> offQueueCalls{0}; // callbacks that arrived on another queue

private:
    mutable std::mutex mMutex;
    QStringList mEvents;
};

class RecordingFilePresenter : public FilePresenter
{
public:
    enum class Answer
    {
        AtOnce,            // call the block before returning, with a reacquirer
        FromAnotherThread, // call it from a thread of the global pool
        Never,             // keep the block; the test calls answerLater()
    };

    RecordingFilePresenter(
        QString path, QString name, bool ownQueue,
        std::shared_ptr<FilePresenterJournal> journal = std::make_shared<FilePresenterJournal>())
        : mPath(std::move(path)), mName(std::move(name)), mJournal(std::move(journal))
    {
        if (ownQueue)
            mQueue =
                std::make_unique<SerialQueue>(QStringLiteral("com.tallowfen.corvex.test.presenter.") + mName);
    }

    ~RecordingFilePresenter() override
    {
        // The queue drains before the members it may use are gone.
        mQueue.reset();
    }

    const std::shared_ptr<FilePresenterJournal>& journal() const { return mJournal; }
    SerialQueue* queue() const { return mQueue.get(); }
    void setAnswer(Answer answer) { mAnswer = answer; }

    // Returns the block kept under Answer::Never.
    void answerLater()
    {
        RelinquishBlock block;
        {
            std::lock_guard lock(mMutex);
            block = std::move(mKeptBlock);
        }
        if (block)
            block(reacquirer());
    }

    QString presentedItemPath() const override { return mPath; }
    SerialQueue* presentedItemQueue() override { return mQueue.get(); }

    void relinquishPresentedItemToReader(RelinquishBlock block) override
    {
        note(QStringLiteral("relinquish to reader"));
        answer(std::move(block));
    }

    void relinquishPresentedItemToWriter(RelinquishBlock block) override
    {
        note(QStringLiteral("relinquish to writer"));
        answer(std::move(block));
    }

    void presentedItemDidChange() override
    {
        note(QStringLiteral("changed"));
        ++mJournal->changes;
    }

private:
    void note(const QString& event)
    {
        ++mJournal->calls;
        const bool onQueue = mQueue ? mQueue->isCurrent() : MainQueue::isMainThread();
        if (!onQueue)
            ++mJournal->offQueueCalls;
        mJournal->add(mName + QStringLiteral(": ") + event);
    }

    Reacquirer reacquirer()
    {
        // Holds the journal, not the presenter: the coordinator must not run this for a
        // presenter that is gone, but if it did, the journal would show it.
        return [journal = mJournal, name = mName, queue = mQueue.get()] {
            ++journal->calls;
            const bool onQueue = queue ? queue->isCurrent() : MainQueue::isMainThread();
            if (!onQueue)
                ++journal->offQueueCalls;
            journal->add(name + QStringLiteral(": reacquire"));
        };
    }

    void answer(RelinquishBlock block)
    {
        switch (mAnswer.load()) {
        case Answer::AtOnce:
            block(reacquirer());
            return;
        case Answer::FromAnotherThread:
            GlobalQueue::async(
                [block = std::move(block), reacquirer = reacquirer(), journal = mJournal, name = mName] {
                    journal->add(name + QStringLiteral(": answers"));
                    block(reacquirer);
                });
            return;
        case Answer::Never: {
            std::lock_guard lock(mMutex);
            mKeptBlock = std::move(block);
            return;
        }
        }
    }

    QString mPath;
    QString mName;
    std::shared_ptr<FilePresenterJournal> mJournal;
    std::unique_ptr<SerialQueue> mQueue;
    std::atomic<Answer> mAnswer{Answer::AtOnce};
    std::mutex mMutex;
    RelinquishBlock mKeptBlock;
};

// A recording presenter that the coordinator already knows.
inline std::shared_ptr<RecordingFilePresenter> registeredPresenter(const QString& path, const QString& name,
                                                                   bool ownQueue = false)
{
    auto made = std::make_shared<RecordingFilePresenter>(path, name, ownQueue);
    FileCoordinator::addFilePresenter(made);
    return made;
}

} // namespace corvex::test
