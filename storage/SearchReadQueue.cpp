#include "storage/SearchReadQueue.h"

#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "storage/SearchTextReader.h"

#include <algorithm>
#include <utility>

namespace corvex {

std::shared_ptr<SearchReadQueue> SearchReadQueue::create(AnswerHandler handler)
{
    return std::make_shared<SearchReadQueue>(Private(), std::move(handler));
}

SearchReadQueue::SearchReadQueue(Private, AnswerHandler handler) : mHandler(std::move(handler)) {}

void SearchReadQueue::add(const QString& docIdentifier, quint64 generation, Read read)
{
    if (!read)
        return;
    std::lock_guard lock(mMutex);
    mWaiting.push_back(Waiting{docIdentifier, generation, std::move(read)});
    startReadersLocked();
}

void SearchReadQueue::setMaxReads(int reads)
{
    std::lock_guard lock(mMutex);
    mMaxReads = std::max(1, reads);
    startReadersLocked();
}

QStringList SearchReadQueue::dropWaiting()
{
    std::lock_guard lock(mMutex);
    QStringList dropped;
    for (const Waiting& waiting : mWaiting)
        dropped.append(waiting.docIdentifier);
    mWaiting.clear();
    return dropped;
}

void SearchReadQueue::beginSearch(const QByteArray& lowerText)
{
    std::lock_guard lock(mMutex);
    mProbeText = lowerText;
    mDeclineTold = false;
    mSkipTold = false;
}

void SearchReadQueue::tell(const QString& docIdentifier, const PayloadTextScanner::Report& report)
{
    bool declined = false;
    bool skipped = false;
    {
        std::lock_guard lock(mMutex);
        declined = report.declined != nullptr && !std::exchange(mDeclineTold, true);
        skipped = report.skippedMembers > 0 && !std::exchange(mSkipTold, true);
    }
    // A declined text is read through its ideas, many times slower: worth knowing why.
    if (declined)
        Log::warning(QStringLiteral("Search: %1 was read through its ideas, not scanned: %2 "
                                    "(told once a search)")
                         .arg(docIdentifier, report.describe()));
    if (skipped)
        Log::info(QStringLiteral("Search: %1 holds members the scanner does not know, read past: %2 "
                                 "(told once a search)")
                      .arg(docIdentifier)
                      .arg(report.skippedMembers));
}

void SearchReadQueue::startReadersLocked()
{
    // A reader inside a read takes no other until it is done: only the others count.
    while (mReaders < mMaxReads && std::size_t(mReaders - mReading) < mWaiting.size()) {
        ++mReaders;
        GlobalQueue::async([self = shared_from_this()] { self->readAll(); });
    }
}

void SearchReadQueue::readAll()
{
    for (;;) {
        Waiting next;
        {
            std::lock_guard lock(mMutex);
            if (mWaiting.empty() || mReaders > mMaxReads) {
                --mReaders;
                // Answers pushed while reads still waited asked for no turn; the reads they
                // counted on may since have been dropped. Whoever leaves last hands them over.
                const bool post = !mDeliveryPosted && !mAnswers.empty();
                mDeliveryPosted = mDeliveryPosted || post;
                if (post)
                    MainQueue::post([self = shared_from_this()] { self->deliver(); });
                return;
            }
            next = std::move(mWaiting.front());
            mWaiting.pop_front();
            ++mReading;
        }
        const Result<QByteArray> bytes = next.read();
        PayloadTextScanner::Report report;
        Result<IdeaTextMap> map =
            bytes.ok() ? SearchTextReader::read(bytes.value(), &report) : Result<IdeaTextMap>(bytes.error());
        tell(next.docIdentifier, report);
        // The text of the search running now, not of the one that ran as the read started: a
        // screen's search often follows the list's refresh by the time a read takes.
        QByteArray probeText;
        if (map.ok()) {
            std::lock_guard lock(mMutex);
            probeText = mProbeText;
        }
        if (!probeText.isEmpty())
            map.value().probe(probeText);
        bool post = false;
        {
            std::lock_guard lock(mMutex);
            --mReading;
            mAnswers.push_back(Answer{std::move(next.docIdentifier), next.generation, std::move(map)});
            // A batch is handed over once it is full or nothing waits to be read; a turn
            // already asked for takes whatever comes before it runs.
            post = !mDeliveryPosted && (mAnswers.size() >= std::size_t(AnswersPerTurn) || mWaiting.empty());
            mDeliveryPosted = mDeliveryPosted || post;
        }
        if (post)
            MainQueue::post([self = shared_from_this()] { self->deliver(); });
    }
}

void SearchReadQueue::deliver()
{
    std::vector<Answer> answers;
    {
        std::lock_guard lock(mMutex);
        answers.swap(mAnswers);
        mDeliveryPosted = false;
    }
    if (mHandler && !answers.empty())
        mHandler(answers);
}

} // namespace corvex
