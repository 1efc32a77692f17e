#pragma once

#include <QString>
#include <memory>

namespace corvex {

class MyResult;
using MyResultPtr = std::shared_ptr<const MyResult>;

// The outcome handed to completion blocks: OK, USER_CANCEL (two shared instances) or an
// error carrying a user-visible message. OK and cancel are told apart by identity, never by
// message: an error whose text is "No error" is still an error. Immutable; any thread.
class MyResult
{
public:
    // "No error" and "User canceled"; each made once, on first use.
    static MyResultPtr OK();
    static MyResultPtr USER_CANCEL();

    // An error whose message is the string table's text for the key, with the default text
    // as fallback. A null default text logs the assertion line "+[MyResult error:desc:]"
    // and goes on (the key then stands as the message).
    static MyResultPtr error(const QString& key, const QString& defaultText);
    // The same without the check of the default text. When the lookup finds nothing at all
    // (no key and no default), the message is "Sorry, an error occurred during operation".
    static MyResultPtr withKey(const QString& key, const QString& defaultText);
    // error(key, defaultText) followed by an empty line and the reason: what went wrong
    // first, then why. An empty reason adds nothing.
    static MyResultPtr error(const QString& key, const QString& defaultText, const QString& reason);

    MyResult(const MyResult&) = delete;
    MyResult& operator=(const MyResult&) = delete;

    // The receiver is the OK instance.
    bool isOK() const;
    // The receiver is neither OK nor USER_CANCEL.
    bool isError() const;
    // The message.
    const QString& description() const { return mErrorString; }

private:
    struct Private
    {};

public:
    // Use the factories; public only for std::make_shared.
    MyResult(Private, QString message);

private:
    QString mErrorString;
};

} // namespace corvex
