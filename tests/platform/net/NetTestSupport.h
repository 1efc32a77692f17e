#pragma once

// Shared pieces of the platform/net tests: running a transfer to its completion on virtual
// time, and readable errors in assertion messages.

#include "platform/core/MainQueue.h"
#include "platform/net/HttpSession.h"
#include "platform/net/UrlError.h"
#include "tests/support/RunUntil.h"
#include "tests/support/net/LoopbackServer.h"

#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

namespace corvex::test {

// What a started transfer reported: its completions (there must be exactly one), on which
// thread, and its progress reports.
struct TransferRecord
{
    std::vector<Result<HttpResponse>> results;
    bool completedOffMain = false;
    std::vector<TransferProgress> progress;
    bool progressAfterCompletion = false;

    bool done() const { return !results.empty(); }
    const Result<HttpResponse>& result() const { return results.front(); }
};

inline std::shared_ptr<TransferRecord> startRecorded(HttpTransfer& transfer)
{
    auto record = std::make_shared<TransferRecord>();
    transfer.setProgressHandler([record](const TransferProgress& progress) {
        if (record->done())
            record->progressAfterCompletion = true;
        record->progress.push_back(progress);
    });
    transfer.start([record](const Result<HttpResponse>& result) {
        if (!MainQueue::isMainThread())
            record->completedOffMain = true;
        record->results.push_back(result);
    });
    return record;
}

// Waits (pumping the main loop) for the completion, then checks the contract: once, on
// the main thread, no progress after it.
inline void expectSingleCompletion(const TransferRecord& record)
{
    EXPECT_EQ(record.results.size(), 1u);
    EXPECT_FALSE(record.completedOffMain);
    EXPECT_FALSE(record.progressAfterCompletion);
}

inline Result<HttpResponse> runTransfer(HttpSession& session, HttpRequest request, double waitSeconds = 20.0)
{
    auto transfer = session.makeTransfer(std::move(request));
    auto record = startRecorded(*transfer);
    if (!runUntil([&] { return record->done(); }, waitSeconds))
        return Error(QStringLiteral("test"), 1, QStringLiteral("the transfer never completed"));
    // A second completion would arrive in the next turns.
    processEvents();
    expectSingleCompletion(*record);
    return record->result();
}

inline QUrl serverUrl(const LoopbackServer& server, const QByteArray& path)
{
    return QUrl::fromEncoded(server.url(path));
}

inline int curlCodeOf(const Error& error)
{
    return error.userInfo().value(UrlError::CurlCodeKey).toInt();
}

// Short limits, so that failure tests end quickly.
inline HttpSessionConfiguration quickConfiguration()
{
    HttpSessionConfiguration configuration;
    configuration.connectTimeout = 5.0;
    configuration.idleTimeout = 5.0;
    configuration.overallTimeout = 30.0;
    return configuration;
}

} // namespace corvex::test
