#include "platform/core/BackgroundDrawing.h"

#include "platform/core/Log.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvex {

namespace {

struct Jobs
{
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    bool stopped = false;
};

// Never destroyed: jobs may still ask while the static state goes.
Jobs& jobs()
{
    static Jobs* all = new Jobs;
    return *all;
}

} // namespace

BackgroundDrawing::Job::Job()
{
    Jobs& all = jobs();
    const std::lock_guard lock(all.mutex);
    if (all.stopped)
        return;
    ++all.running;
    mAdmitted = true;
}

BackgroundDrawing::Job::~Job()
{
    if (!mAdmitted)
        return;
    Jobs& all = jobs();
    const std::lock_guard lock(all.mutex);
    if (--all.running == 0)
        all.idle.notify_all();
}

bool BackgroundDrawing::Job::shouldStop()
{
    Jobs& all = jobs();
    const std::lock_guard lock(all.mutex);
    return all.stopped;
}

void BackgroundDrawing::stopAndWait()
{
    Jobs& all = jobs();
    std::unique_lock lock(all.mutex);
    all.stopped = true;
    // Each job stops after the piece it is drawing; a long piece is waited for, not left
    // drawing into what is about to go.
    while (!all.idle.wait_for(lock, std::chrono::seconds(5), [&all] { return all.running == 0; }))
        Log::info(QStringLiteral("Waiting for %1 drawing job(s) to stop").arg(all.running));
}

int BackgroundDrawing::running()
{
    Jobs& all = jobs();
    const std::lock_guard lock(all.mutex);
    return all.running;
}

} // namespace corvex
