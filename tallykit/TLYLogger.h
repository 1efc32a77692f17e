#pragma once

#include <QString>
#include <atomic>

namespace corvex {

// The analytics kit's debug logger: lines appear only while debug mode is on.
class TLYLogger
{
public:
    static TLYLogger& sharedLogger();

    // "[Tally] <message>".
    void log(const QString& message) const;
    // "[Tally:<label>] <message>".
    void logWithLabel(const QString& label, const QString& message) const;

    bool debugMode() const { return mDebugMode.load(); }
    void setDebugMode(bool debugMode) { mDebugMode.store(debugMode); }

private:
    void internalLog(const QString& line) const;

    std::atomic<bool> mDebugMode{false};
};

} // namespace corvex
