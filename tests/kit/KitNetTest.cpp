// The kit's HTTP pieces without a server: URL building, answer classification, content
// types, Retry-After, back-off and the multipart encoder.

#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMNetworkResponseHandler.h"
#include "kit/net/LOMURLBuilder.h"
#include "platform/net/UrlError.h"
#include "tests/kit/KitNetTestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;

namespace {

std::optional<HttpResponse> answer(int status, HttpHeaders headers = {})
{
    HttpResponse response;
    response.statusCode = status;
    response.headers = std::move(headers);
    return response;
}

// Takes the first `limit` bytes, then nothing.
class ShortStream : public LOMOutputStream
{
public:
    explicit ShortStream(qint64 limit) : mLimit(limit) {}
    bool open() override { return true; }
    qint64 write(const char* bytes, qint64 length) override
    {
        const qint64 taken = std::max<qint64>(0, std::min(length, mLimit - qint64(taken_.size())));
        taken_.append(bytes, taken);
        return taken;
    }
    void close() override {}
    const QByteArray& data() const { return taken_; }
    QByteArray taken_;

private:
    qint64 mLimit;
};

} // namespace

TEST(LOMURLBuilder, QueryValuesStayOneValueAndPathsKeepReservedCharacters)
{
    LOMURLBuilder builder = LOMURLBuilder::URLWithBase(QStringLiteral("https://h.invalid"));
    builder.escapeAndAppendComponent(QStringLiteral("/apps/a b/é"));
    builder.appendValue(QStringLiteral("1.6+beta&x=y#z"), QStringLiteral("build_version"));
    builder.appendValue(QVariant(), QStringLiteral("skipped"));
    builder.appendValue(3, QStringLiteral("source"));
    EXPECT_EQ(
        builder.URLString(),
        QStringLiteral("https://h.invalid/apps/a%20b/%C3%A9?build_version=1.6%2Bbeta%26x%3Dy%23z&source=3"));
    EXPECT_EQ(builder.queryParams(), 2u);
    ASSERT_TRUE(builder.URL().has_value());
    EXPECT_EQ(builder.URL()->query(QUrl::FullyDecoded),
              QStringLiteral("build_version=1.6+beta&x=y#z&source=3"));
    EXPECT_FALSE(LOMURLBuilder::URLWithBase(QStringLiteral("no url at all")).URL().has_value());
}

TEST(LOMNetworkResponseHandler, ClassifiesStatusesAsTheTableSays)
{
    const struct
    {
        int status;
        int type;
    } cases[] = {{200, 0}, {201, 0}, {202, 0}, {204, 0}, {304, 0}, {203, 1}, {302, 1}, {400, 2}, {404, 2},
                 {419, 2}, {431, 2}, {420, 4}, {429, 4}, {408, 3}, {500, 3}, {599, 3}, {600, 1}, {0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(LOMNetworkResponseHandler::clientResponseType(answer(c.status)).type, c.type) << c.status;
    EXPECT_EQ(LOMNetworkResponseHandler::clientResponseType(std::nullopt).status, 0);
}

TEST(LOMNetworkResponseHandler, ContentTypesAreParsedNotSplitAtOneSpelling)
{
    HttpRequest request;
    request.headers.add("Accept", "application/json");
    request.headers.add("Accept-Charset", "utf-8");
    const struct
    {
        const char* contentType;
        bool matches;
    } cases[] = {
        {"application/json; charset=UTF-8", true},
        {"application/json;charset=utf-8", true},
        {"application/json; charset=\"utf-8\"", true},
        {"Application/JSON; foo=bar", true},
        {"application/json", true},
        {"application/json; charset=latin1", false},
        {"text/html", false},
        {"application/jsonx", false},
        {"", false},
    };
    for (const auto& c : cases) {
        HttpHeaders headers;
        if (*c.contentType != '\0')
            headers.add("Content-Type", c.contentType);
        EXPECT_EQ(LOMNetworkResponseHandler::contentTypeForResponse(answer(200, headers), request), c.matches)
            << c.contentType;
    }
    EXPECT_TRUE(LOMNetworkResponseHandler::contentTypeForResponse(answer(200), HttpRequest()));

    HttpHeaders html;
    html.add("Content-Type", "text/html");
    const auto outcome =
        LOMNetworkResponseHandler::handleCompletedResponse(answer(200, html), request, Error());
    EXPECT_FALSE(outcome.retry);
    EXPECT_EQ(outcome.error.code(), -4);
    EXPECT_EQ(outcome.error.domain(), QStringLiteral("LOMNetworkError"));
}

TEST(LOMNetworkResponseHandler, RetryAfterAndRetryableErrors)
{
    const struct
    {
        const char* header;
        double seconds;
    } cases[] = {{"30", 30}, {"2.5 s", 2.5}, {"soon", 0}, {"-4", 2.0}, {"999999", 999999}};
    for (const auto& c : cases) {
        HttpHeaders headers;
        headers.add("Retry-After", c.header);
        EXPECT_DOUBLE_EQ(LOMNetworkResponseHandler::retryValueForResponse(answer(503, headers)), c.seconds)
            << c.header;
    }
    EXPECT_DOUBLE_EQ(LOMNetworkResponseHandler::retryValueForResponse(answer(503)), 2.0);

    for (int code : {-999, -1001, -1004, -1005})
        EXPECT_TRUE(LOMNetworkResponseHandler::retryableURLError(Error(UrlError::Domain, code))) << code;
    for (int code : {-1000, -1002, -1007, -1200, -1202, -1206, -1100, -1103})
        EXPECT_FALSE(LOMNetworkResponseHandler::retryableURLError(Error(UrlError::Domain, code))) << code;
    EXPECT_FALSE(LOMNetworkResponseHandler::retryableURLError(Error(QStringLiteral("Other"), -1001)));
}

TEST(LOMNetworkClient, PinnedRandomGivesTheFormulasDelaysAndHugeOnesAreClamped)
{
    double unit = 0.25;
    LOMNetworkClient::setRandomSource([&unit] { return unit; });
    const double jitterAt025 = double(0.9f) + (double(1.1f) - double(0.9f)) * 0.25;
    HttpHeaders thirty;
    thirty.add("Retry-After", "30");
    EXPECT_DOUBLE_EQ(LOMNetworkClient::computeDelayForResponse(answer(503, thirty), 2), 900.0 * jitterAt025);
    EXPECT_DOUBLE_EQ(LOMNetworkClient::computeDelayForResponse(answer(500), 0), 2.0 * jitterAt025);
    EXPECT_DOUBLE_EQ(LOMNetworkClient::computeDelayForResponse(answer(500), 5), 32.0 * jitterAt025);
    unit = 1.0;
    EXPECT_DOUBLE_EQ(LOMNetworkClient::computeDelayForResponse(answer(500), 1), 2.0 * double(1.1f));

    HttpHeaders huge;
    huge.add("Retry-After", "999999");
    for (int tries : {1, 2, 11, 400})
        EXPECT_EQ(LOMNetworkClient::computeDelayForResponse(answer(503, huge), tries),
                  LOMNetworkClient::MaxRetryDelaySeconds)
            << tries;
    HttpHeaders endless;
    endless.add("Retry-After", QByteArray(400, '9'));
    EXPECT_EQ(LOMNetworkClient::computeDelayForResponse(answer(503, endless), 3),
              LOMNetworkClient::MaxRetryDelaySeconds);
    LOMNetworkClient::setRandomSource({});
}

TEST(LOMMultipartMimeStreamEncoder, WritesTheLayoutAndCountsEveryByte)
{
    auto stream = std::make_shared<LOMMemoryOutputStream>();
    LOMMultipartMimeStreamEncoder empty(stream, QStringLiteral("B"));
    EXPECT_TRUE(empty.encode({}));
    EXPECT_EQ(stream->data(), QByteArray("MIME-Version: 1.0\r\n--B--\r\n"));

    auto parts = std::make_shared<LOMMemoryOutputStream>();
    LOMMultipartMimeStreamEncoder encoder(parts, QStringLiteral("B"));
    test::LogCapture log;
    EXPECT_TRUE(encoder.encode([](LOMMultipartMimeStreamEncoder& e) {
        e.addValue(3, QStringLiteral("n"));
        e.addValue(QVariant(), QStringLiteral("skipped"));
        e.addFileData("xyz", QStringLiteral("f.bin"), QString(), QStringLiteral("file"));
        e.addFileData(QByteArray(), QStringLiteral("f.bin"), QString(), QStringLiteral("none"));
    }));
    EXPECT_EQ(parts->data(),
              QByteArray(
                  "MIME-Version: 1.0\r\n"
                  "--B\r\nContent-Disposition: form-data; name=\"n\"\r\nContent-Type: text/plain\r\n\r\n3\r\n"
                  "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f.bin\"\r\n"
                  "Content-Type: application/octet-stream\r\n\r\nxyz\r\n--B--\r\n"));
    EXPECT_EQ(encoder.contentLengthHTTPHeaderValue(), QString::number(parts->data().size()));
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] name (skipped) or value ((null)) is invalid")));
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] Unable to MIME encode data with zero length (none)")));
    EXPECT_EQ(LOMMultipartMimeStreamEncoder::generateBoundary().size(), 36);
}

TEST(LOMMultipartMimeStreamEncoder, NamesThatWouldBreakThePartHeadersAreRefused)
{
    for (const QString& bad :
         {QStringLiteral("a\"b"), QStringLiteral("a\r\nX-Injected: 1"), QStringLiteral("a\nb")}) {
        auto stream = std::make_shared<LOMMemoryOutputStream>();
        LOMMultipartMimeStreamEncoder encoder(stream, QStringLiteral("B"));
        test::LogCapture log;
        EXPECT_TRUE(encoder.encode([&](LOMMultipartMimeStreamEncoder& e) {
            e.addValue(QStringLiteral("v"), bad);
            e.addFileData("x", bad, QStringLiteral("image/png"), QStringLiteral("file"));
        }));
        EXPECT_EQ(stream->data(), QByteArray("MIME-Version: 1.0\r\n--B--\r\n"));
    }
}

TEST(LOMMultipartMimeStreamEncoder, AShortWriteIsRememberedAndFailsTheBody)
{
    auto stream = std::make_shared<ShortStream>(40);
    LOMMultipartMimeStreamEncoder encoder(stream, QStringLiteral("B"));
    test::LogCapture log;
    EXPECT_FALSE(encoder.encode([](LOMMultipartMimeStreamEncoder& e) {
        e.addFileData(QByteArray(100, 'x'), QStringLiteral("f"), QString(), QStringLiteral("file"));
        e.addValue(QStringLiteral("later"), QStringLiteral("after"));
    }));
    EXPECT_TRUE(encoder.hasWriteFailure());
    EXPECT_EQ(encoder.length(), quint64(stream->data().size()));
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] Failed to write data to stream")));

    HttpRequest request;
    EXPECT_TRUE(LOMMultipartMimeStreamEncoder::populateRequest(request, [](LOMMultipartMimeStreamEncoder& e) {
        e.addValue(QStringLiteral("v"), QStringLiteral("k"));
    }));
    EXPECT_EQ(request.headers.value("Content-Length"), QByteArray::number(request.body.size()));
    EXPECT_TRUE(request.headers.value("Content-Type").startsWith("multipart/form-data; boundary="));
}
