#pragma once

#include "platform/core/Log.h"

#include <QStringList>
#include <mutex>
#include <vector>

namespace corvex::test {

// Captures the process log for the lifetime of the object and restores the previous sink.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    bool contains(const QString& fragment) const;
    int count(const QString& fragment) const;
    // Lines of the level holding the fragment.
    int count(LogLevel level, const QString& fragment) const;
    void clear();

private:
    mutable std::mutex mMutex;
    QStringList mLines;
    std::vector<LogLevel> mLevels; // one per line
    Log::Sink mPrevious;
};

} // namespace corvex::test
