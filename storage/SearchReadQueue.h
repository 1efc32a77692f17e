#pragma once

#include "platform/core/Result.h"
#include "storage/IdeaTextMap.h"
#include "storage/PayloadTextScanner.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {

// The search reads of one workspace: each reads a document's stored bytes and makes its
// search strings of them (SearchTextReader), on the global queues, at most `maxReads` at a
// time, in the order they were added. The answers go to the main thread in batches, so
// that a thousand reads do not cost a thousand turns of the main queue: a turn is asked for
// once AnswersPerTurn answers wait, no read waits to start, or a reader leaves with answers
// not yet handed over (its waiting reads were dropped), and takes every answer that came
// before it runs: no answer is left behind, however a drop falls between the reads.
//
// Threads: add, dropWaiting and the handler on the main thread; reads on the global queues.
// A read under way when the queue's owner goes still finishes; its answer then reaches a
// handler that finds no owner.
class SearchReadQueue final : public std::enable_shared_from_this<SearchReadQueue>
{
public:
    // Reads a document's stored bytes; any thread runs it.
    using Read = std::function<Result<QByteArray>()>;

    struct Answer
    {
        QString docIdentifier;
        quint64 generation = 0; // as added
        Result<IdeaTextMap> map;
    };
    using AnswerHandler = std::function<void(std::vector<Answer>& answers)>;

    static constexpr int AnswersPerTurn = 32;

    static std::shared_ptr<SearchReadQueue> create(AnswerHandler handler);

    // Queues a read (an empty one is ignored); it starts once fewer than maxReads run.
    void add(const QString& docIdentifier, quint64 generation, Read read);
    // Takes effect for the reads started from now on (at least 1).
    void setMaxReads(int reads);
    // Forgets the reads not started yet and answers their identifiers.
    QStringList dropWaiting();
    // A new search: the reads look for its text in the maps they make from now on
    // (IdeaTextMap::probe; a searchKey; null for none), and the first of its reads whose text
    // the scanner declines is logged with the reason, as is the first whose text holds
    // members the scanner does not know: once a search, however many documents do.
    void beginSearch(const QByteArray& lowerText);

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use create(); public only for std::make_shared.
    SearchReadQueue(Private, AnswerHandler handler);

private:
    struct Waiting
    {
        QString docIdentifier;
        quint64 generation = 0;
        Read read;
    };

    // Needs mMutex: starts readers while reads wait and fewer than maxReads run.
    void startReadersLocked();
    // A reader: takes waiting reads until none is left.
    void readAll();
    // Logs what the scanner met in a document's text, once a search for each kind.
    void tell(const QString& docIdentifier, const PayloadTextScanner::Report& report);
    // Main thread: hands the answers that came to the handler.
    void deliver();

    const AnswerHandler mHandler;
    std::mutex mMutex;
    std::deque<Waiting> mWaiting;
    std::vector<Answer> mAnswers;
    QByteArray mProbeText;
    bool mDeclineTold = false; // this search's first decline was logged
    bool mSkipTold = false;    // this search's first members not known were logged
    int mMaxReads = 1;
    int mReaders = 0;
    int mReading = 0; // readers inside a read
    bool mDeliveryPosted = false;
};

} // namespace corvex
