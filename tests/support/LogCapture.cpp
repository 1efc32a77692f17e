#include "tests/support/LogCapture.h"

namespace corvex::test {

LogCapture::LogCapture()
{
    mPrevious = Log::setSink([this](LogLevel level, const QString& message) {
        std::lock_guard lock(mMutex);
        mLines.append(message);
        mLevels.push_back(level);
    });
}

LogCapture::~LogCapture()
{
    Log::setSink(mPrevious);
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(mMutex);
    return mLines;
}

bool LogCapture::contains(const QString& fragment) const
{
    return count(fragment) > 0;
}

int LogCapture::count(const QString& fragment) const
{
    std::lock_guard lock(mMutex);
    int n = 0;
    for (const QString& line : mLines)
        n += line.contains(fragment) ? 1 : 0;
    return n;
}

int LogCapture::count(LogLevel level, const QString& fragment) const
{
    std::lock_guard lock(mMutex);
    int n = 0;
    for (qsizetype i = 0; i < mLines.size(); ++i)
        n += mLevels[std::size_t(i)] == level && mLines[i].contains(fragment) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    std::lock_guard lock(mMutex);
    mLines.clear();
    mLevels.clear();
}

} // namespace corvex::test
