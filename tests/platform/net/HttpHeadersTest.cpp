#include "platform/net/HttpHeaders.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

TEST(HttpHeaders, LooksNamesUpWithoutRegardToCaseAndKeepsOrder)
{
    HttpHeaders headers;
    headers.add("Set-Cookie", "a=1");
    headers.add("Content-Type", "text/plain");
    headers.add("set-cookie", "b=2");
    EXPECT_TRUE(headers.contains("CONTENT-TYPE"));
    EXPECT_EQ(headers.value("content-type"), QByteArray("text/plain"));
    EXPECT_EQ(headers.values("SET-COOKIE"), (QList<QByteArray>{"a=1", "b=2"}));
    EXPECT_EQ(headers.fields().first().first, QByteArray("Set-Cookie"));
    EXPECT_TRUE(headers.value("Missing").isEmpty());
}

TEST(HttpHeaders, SetReplacesEveryFieldOfThatNameAndRemoveDropsThem)
{
    HttpHeaders headers{{"Accept", "a"}, {"X-One", "1"}, {"accept", "b"}};
    headers.set("ACCEPT", "c");
    EXPECT_EQ(headers.values("accept"), QList<QByteArray>{"c"});
    EXPECT_EQ(headers.size(), 2);
    headers.remove("x-one");
    EXPECT_FALSE(headers.contains("X-One"));
    EXPECT_EQ(headers.size(), 1);
}

} // namespace
} // namespace corvex
