#pragma once

#include "platform/net/DropboxTokenStore.h"

#include <QByteArray>
#include <QString>

namespace corvex {

// Readers of what the Dropbox account routes answer: the token route's answer to a sign-in
// code and to a refresh, a route's JSON error and a wait's Retry-After. Every one takes
// untrusted bytes and answers empty (or the fallback) for anything not of the expected shape.
class DropboxAccountAnswers
{
public:
    DropboxAccountAnswers() = delete;

    // {"access_token": ..., "refresh_token": ...}: the tokens of a sign-in code.
    static DropboxCredentials signInTokens(const QByteArray& body);
    // {"access_token": ...}: the new access token of a refresh.
    static QString refreshedAccessToken(const QByteArray& body);
    // The ".tag" of the answer's "error" object ("expired_access_token").
    static QString errorTag(const QByteArray& body);
    // The seconds of a Retry-After header, at most `cap`; `fallback` when it is no finite,
    // non-negative number.
    static double retryAfterSeconds(const QByteArray& value, double fallback, double cap);
};

} // namespace corvex
