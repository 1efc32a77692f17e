#pragma once

#include "platform/core/Log.h"

#include <QStringList>
#include <mutex>

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
    void clear();

private:
    mutable std::mutex mMutex;
    QStringList mLines;
    Log::Sink mPrevious;
};

} // namespace corvex::test
