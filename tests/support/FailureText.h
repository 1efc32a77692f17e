#pragma once

#include "platform/core/Result.h"

#include <QString>
#include <cstring>
#include <gtest/gtest.h>

namespace corvex::test {

// The C library's text of an errno value, as an Error made of it words its cause.
inline QString errnoText(int errnoValue)
{
    return QString::fromLocal8Bit(::strerror(errnoValue));
}

// Whether a write failed saying which file, in quotes, and why: what a user is shown of a
// failed save or export.
inline ::testing::AssertionResult failsNaming(const Status& written, const QString& file,
                                              const QString& cause)
{
    if (written)
        return ::testing::AssertionFailure() << "the write worked";
    const QString text = written.error().localizedDescription();
    if (!text.contains(QLatin1Char('"') + file + QLatin1Char('"')))
        return ::testing::AssertionFailure()
               << "no \"" << file.toStdString() << "\" in " << text.toStdString();
    if (!text.contains(cause))
        return ::testing::AssertionFailure() << "no " << cause.toStdString() << " in " << text.toStdString();
    return ::testing::AssertionSuccess();
}

} // namespace corvex::test
