#include "platform/net/UrlError.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <ostream>

namespace corvex {
namespace {

struct CurlMapping
{
    CURLcode curl;
    int urlCode;
    bool transient;
};

// Table rows print as their names in test output.
void PrintTo(const CurlMapping& value, std::ostream* os)
{
    *os << "CURLcode " << int(value.curl);
}

class UrlErrorMapping : public ::testing::TestWithParam<CurlMapping>
{};

// The table the reporting kit's retry rule depends on.
TEST_P(UrlErrorMapping, MapsTheLibcurlResult)
{
    const CurlMapping& row = GetParam();
    EXPECT_EQ(int(UrlError::codeForCurl(int(row.curl))), row.urlCode) << curl_easy_strerror(row.curl);
    EXPECT_EQ(UrlError::isTransient(row.urlCode), row.transient) << curl_easy_strerror(row.curl);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UrlErrorMapping,
    ::testing::Values(
        CurlMapping{CURLE_OPERATION_TIMEDOUT, -1001, true},
        CurlMapping{CURLE_COULDNT_RESOLVE_HOST, -1003, true}, CurlMapping{CURLE_COULDNT_CONNECT, -1004, true},
        CurlMapping{CURLE_SEND_ERROR, -1005, true}, CurlMapping{CURLE_RECV_ERROR, -1005, true},
        CurlMapping{CURLE_GOT_NOTHING, -1005, true}, CurlMapping{CURLE_PARTIAL_FILE, -1005, true},
        CurlMapping{CURLE_URL_MALFORMAT, -1000, false}, CurlMapping{CURLE_UNSUPPORTED_PROTOCOL, -1002, false},
        CurlMapping{CURLE_TOO_MANY_REDIRECTS, -1007, false},
        CurlMapping{CURLE_PEER_FAILED_VERIFICATION, -1202, false},
        CurlMapping{CURLE_SSL_CONNECT_ERROR, -1200, false}, CurlMapping{CURLE_READ_ERROR, -1100, false},
        CurlMapping{CURLE_FILESIZE_EXCEEDED, -1103, false},
        CurlMapping{CURLE_ABORTED_BY_CALLBACK, -999, true},
        CurlMapping{CURLE_WEIRD_SERVER_REPLY, -1011, false}, CurlMapping{CURLE_OUT_OF_MEMORY, -1, false}),
    [](const ::testing::TestParamInfo<CurlMapping>& info) {
        return "Curl" + std::to_string(int(info.param.curl));
    });

TEST(UrlError, CarriesTheFailingUrlAndTheLibcurlCode)
{
    const QUrl url(QStringLiteral("http://127.0.0.1:9/x"));
    const Error error = UrlError::fromCurl(int(CURLE_COULDNT_CONNECT), QString(), url);
    EXPECT_EQ(error.domain(), QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(error.code(), -1004);
    EXPECT_EQ(error.userInfo().value(UrlError::FailingURLStringKey).toString(), url.toString());
    EXPECT_EQ(error.userInfo().value(UrlError::FailingURLKey).toUrl(), url);
    EXPECT_EQ(error.userInfo().value(UrlError::CurlCodeKey).toInt(), int(CURLE_COULDNT_CONNECT));
    EXPECT_FALSE(error.localizedDescription().isEmpty());
}

} // namespace
} // namespace corvex
