#pragma once

#include "platform/net/HttpHeaders.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

namespace corvex {

// One HTTP request as a value. The body is either bytes in memory or a file streamed from
// disk; the response body goes to memory or, with a download path, straight to a file.
struct HttpRequest
{
    enum class BodySource
    {
        None,
        Memory,
        File
    };

    QUrl url;
    QByteArray method = "GET";
    // Sent as given, in order. Without a Content-Type, a request with a body sends none
    // (libcurl would otherwise claim a form).
    HttpHeaders headers;

    BodySource bodySource = BodySource::None;
    QByteArray body;      // BodySource::Memory
    QString bodyFilePath; // BodySource::File: read while it is sent

    // When set, the response body is written to a temporary file beside this path and
    // renamed over it once the transfer succeeded with a 2xx status; the old file stays on
    // any failure, and the body of any other status comes in memory instead.
    QString downloadFilePath;
    // Downloads are flushed to the disk before the rename unless this is false.
    bool syncDownload = true;

    // Per-request overrides of the session's limits (seconds; 0 disables a time-out).
    std::optional<double> connectTimeout;
    std::optional<double> idleTimeout;
    std::optional<double> overallTimeout;
    // The largest response body accepted, in bytes.
    std::optional<qint64> maxBodyBytes;
    // Sent at most once per answer. libcurl otherwise sends a request again, on a fresh
    // connection, when the kept-alive one it went out on closes or resets before any byte of
    // an answer; the transfer then fails as a lost connection instead, for a caller that
    // counts its requests or whose request the server may have acted on.
    bool sendOnce = false;

    static HttpRequest get(const QUrl& url)
    {
        HttpRequest request;
        request.url = url;
        return request;
    }
    static HttpRequest post(const QUrl& url, QByteArray body, const QByteArray& contentType = {})
    {
        HttpRequest request;
        request.url = url;
        request.method = "POST";
        request.bodySource = BodySource::Memory;
        request.body = std::move(body);
        if (!contentType.isEmpty())
            request.headers.set("Content-Type", contentType);
        return request;
    }
};

// What the server answered. A status of 404 or 500 is still a response: only transport
// failures are errors.
struct HttpResponse
{
    QUrl url; // after redirects
    int statusCode = 0;
    QByteArray httpVersion;
    HttpHeaders headers;
    QByteArray body;      // when the body went to memory
    QString bodyFilePath; // when it went to a file
    qint64 bodyBytes = 0; // received, either way
    int redirectCount = 0;
};

// How far a transfer has got; totals are -1 while unknown.
struct TransferProgress
{
    qint64 bytesSent = 0;
    qint64 bytesExpectedToSend = -1;
    qint64 bytesReceived = 0;
    qint64 bytesExpectedToReceive = -1;
};

} // namespace corvex
