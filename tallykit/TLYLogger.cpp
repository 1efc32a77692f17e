#include "tallykit/TLYLogger.h"

#include "platform/core/Log.h"

namespace corvex {

TLYLogger& TLYLogger::sharedLogger()
{
    static TLYLogger* const logger = new TLYLogger; // used until the process ends
    return *logger;
}

void TLYLogger::log(const QString& message) const
{
    internalLog(QStringLiteral("[Tally] ") + message);
}

void TLYLogger::logWithLabel(const QString& label, const QString& message) const
{
    internalLog(QStringLiteral("[Tally:%1] %2").arg(label, message));
}

void TLYLogger::internalLog(const QString& line) const
{
    if (mDebugMode.load())
        Log::info(line);
}

} // namespace corvex
