#pragma once

// Shared pieces of the platform/core tests: readable values in assertion messages, the
// keyed-archive fixtures written by tests/data/gen/, and probes for the queue tests.

#include "platform/core/JsonText.h"
#include "platform/core/QueueLabels.h"
#include "platform/core/Value.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <atomic>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace corvex {

// Readable values in assertion messages.
inline void PrintTo(const Value& value, std::ostream* os)
{
    *os << Value::typeName(value.type()).toStdString() << " "
        << JsonText::serialize(value).left(200).toStdString();
}

} // namespace corvex

namespace corvex::test {

// tests/data/keyed: the property lists and archives, and expected.json describing them.
inline QString keyedFixtureDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../data/keyed"));
}

// What expected.json says about the fixtures; a null value (and a failure) when it cannot
// be read.
inline Value keyedExpectations()
{
    const auto parsed = JsonText::parse(readFile(keyedFixtureDir() + QStringLiteral("/expected.json")));
    EXPECT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    return parsed.ok() ? *parsed : Value();
}

// The label of the queue the calling thread is running for.
inline std::string currentQueueLabel()
{
    char buffer[QueueLabels::MaxLabelLength + 1];
    QueueLabels::readCurrent(buffer, sizeof buffer);
    return buffer;
}

// Counts blocks inside a region and remembers the most seen at once.
struct InFlight
{
    std::atomic<int> now{0};
    std::atomic<int> most{0};

    void enter()
    {
        const int value = ++now;
        int seen = most.load();
        while (value > seen && !most.compare_exchange_weak(seen, value)) {
        }
    }
    void leave() { --now; }
};

} // namespace corvex::test
