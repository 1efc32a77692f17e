#include "platform/net/HttpResponseHeaderParser.h"

#include <gtest/gtest.h>
#include <ostream>

namespace corvex {
namespace {

bool feedAll(HttpResponseHeaderParser& parser, const QList<QByteArray>& lines)
{
    for (const QByteArray& line : lines) {
        if (!parser.feedLine(line))
            return false;
    }
    return true;
}

TEST(HttpResponseHeaderParser, ReadsTheStatusLineAndFields)
{
    HttpResponseHeaderParser parser;
    ASSERT_TRUE(feedAll(parser, {"HTTP/1.1 201 Created\r\n", "Content-Type: text/plain\r\n",
                                 "X-Spaced:   padded value  \r\n", "Empty:\r\n", "\r\n"}));
    EXPECT_TRUE(parser.blockComplete());
    EXPECT_EQ(parser.statusCode(), 201);
    EXPECT_EQ(parser.reasonPhrase(), QByteArray("Created"));
    EXPECT_EQ(parser.httpVersion(), QByteArray("1.1"));
    EXPECT_EQ(parser.headers().value("content-type"), QByteArray("text/plain"));
    EXPECT_EQ(parser.headers().value("X-Spaced"), QByteArray("padded value"));
    EXPECT_TRUE(parser.headers().contains("Empty"));
}

TEST(HttpResponseHeaderParser, KeepsOnlyTheLastBlockOfInterimAnswersAndRedirects)
{
    HttpResponseHeaderParser parser;
    ASSERT_TRUE(
        feedAll(parser, {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 302 Found\r\n", "Location: /next\r\n",
                         "\r\n", "HTTP/1.1 200 OK\r\n", "X-Final: yes\r\n", "\r\n"}));
    EXPECT_EQ(parser.statusCode(), 200);
    EXPECT_EQ(parser.blockCount(), 3);
    EXPECT_FALSE(parser.headers().contains("Location"));
    EXPECT_EQ(parser.headers().value("X-Final"), QByteArray("yes"));
}

TEST(HttpResponseHeaderParser, FoldsContinuationLinesAndLeavesTrailersOut)
{
    HttpResponseHeaderParser parser;
    ASSERT_TRUE(feedAll(parser, {"HTTP/1.1 200 OK\r\n", "X-Long: first\r\n", "\t second\r\n", "\r\n",
                                 "X-Trailer: checksum\r\n", "\r\n"}));
    EXPECT_EQ(parser.headers().value("X-Long"), QByteArray("first second"));
    EXPECT_FALSE(parser.headers().contains("X-Trailer"));
}

struct RefusedBlock
{
    const char* name;
    QList<QByteArray> lines;
};

// Table rows print as their names in test output.
void PrintTo(const RefusedBlock& value, std::ostream* os)
{
    *os << value.name;
}

class HttpResponseHeaderParserRefuses : public ::testing::TestWithParam<RefusedBlock>
{};

TEST_P(HttpResponseHeaderParserRefuses, WithAnErrorAndKeepsRefusing)
{
    HttpResponseHeaderParser parser;
    EXPECT_FALSE(feedAll(parser, GetParam().lines));
    EXPECT_TRUE(parser.failed());
    EXPECT_FALSE(parser.error().isEmpty());
    EXPECT_FALSE(parser.feedLine(QByteArray("X-After: 1\r\n")));
}

QList<QByteArray> manyFields(int count)
{
    QList<QByteArray> lines{"HTTP/1.1 200 OK\r\n"};
    for (int i = 0; i < count; ++i)
        lines.append("X-Field-" + QByteArray::number(i) + ": v\r\n");
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpResponseHeaderParserRefuses,
    ::testing::Values(RefusedBlock{"HeaderWithoutColon", {"HTTP/1.1 200 OK\r\n", "NoColonHere\r\n"}},
                      RefusedBlock{"FieldWithoutName", {"HTTP/1.1 200 OK\r\n", ": value\r\n"}},
                      RefusedBlock{"SpaceInFieldName", {"HTTP/1.1 200 OK\r\n", "Bad Name: value\r\n"}},
                      RefusedBlock{"NoStatusLine", {"Content-Type: text/plain\r\n"}},
                      RefusedBlock{"StatusWithoutCode", {"HTTP/1.1 OK\r\n"}},
                      RefusedBlock{"StatusCodeTooShort", {"HTTP/1.1 20 OK\r\n"}},
                      RefusedBlock{"StatusCodeTooLong", {"HTTP/1.1 2000 OK\r\n"}},
                      RefusedBlock{"StatusBelow100", {"HTTP/1.1 099 Odd\r\n"}},
                      RefusedBlock{"VersionMissing", {"HTTP/ 200 OK\r\n"}},
                      RefusedBlock{"ContinuationFirst", {"HTTP/1.1 200 OK\r\n", " folded\r\n"}},
                      RefusedBlock{"TooManyFields", manyFields(int(HttpResponseHeaderParser::MaxFields) + 1)},
                      RefusedBlock{"OversizedBlock",
                                   {"HTTP/1.1 200 OK\r\n",
                                    "X-Big: " + QByteArray(HttpResponseHeaderParser::MaxBlockBytes, 'a')}},
                      RefusedBlock{"TrailerWithoutColon", {"HTTP/1.1 200 OK\r\n", "\r\n", "garbage\r\n"}}),
    [](const ::testing::TestParamInfo<RefusedBlock>& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvex
