#pragma once

// Fakes of the tile source for the tiled-view tests: counting, optionally held at a gate,
// and a pump that runs the main queue (and virtual time, when given) until a condition holds.

#include "overview/GraphTileSource.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace corvex::test {

class FakeTileSource : public GraphTileSource
{
public:
    // Held while the gate is closed, unless the caller stops wanting the tile.
    QImage createTile(const Rect& rect, Size pixelSize, const std::atomic<bool>* keepGoing) const override
    {
        std::unique_lock lock(mMutex);
        mRects.push_back(rect);
        ++mCalls;
        mChanged.notify_all();
        while (!mOpen) {
            if (keepGoing && !keepGoing->load())
                return {};
            mChanged.wait_for(lock, std::chrono::milliseconds(5));
        }
        QImage image(int(pixelSize.width), int(pixelSize.height), QImage::Format_ARGB32_Premultiplied);
        image.fill(qRgba(40, 90, 160, 255));
        return image;
    }

    void close()
    {
        std::lock_guard lock(mMutex);
        mOpen = false;
    }
    void open()
    {
        std::lock_guard lock(mMutex);
        mOpen = true;
        mChanged.notify_all();
    }
    int calls() const
    {
        std::lock_guard lock(mMutex);
        return mCalls;
    }
    // Waits (real time, bounded) until `count` tiles were asked for; false when it ran out.
    bool waitForCalls(int count, double seconds) const
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return mCalls >= count; });
    }
    std::vector<Rect> rects() const
    {
        std::lock_guard lock(mMutex);
        return mRects;
    }

private:
    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    mutable int mCalls = 0;
    mutable std::vector<Rect> mRects;
    bool mOpen = true;
};

// The threads of this process now.
inline int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Runs the main queue (and what is due on virtual time) until the predicate holds or
// `seconds` of real time passed.
inline bool pumpUntil(const std::function<bool()>& predicate, ScopedVirtualTime* time = nullptr,
                      double seconds = 20)
{
    QElapsedTimer timer;
    timer.start();
    while (!predicate()) {
        if (timer.elapsed() > qint64(seconds * 1000))
            return false;
        if (time)
            time->runDue();
        runUntil(predicate, 0.005);
    }
    return true;
}

} // namespace corvex::test
