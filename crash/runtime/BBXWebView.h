#pragma once

// Ordinary code: script errors of an embedded web view as custom exceptions. The web engine
// Corvex uses offers no user-script hook, so the install answers "not available"; a script
// message that reaches the application some other way is still recorded.

#include <QByteArray>
#include <QVariant>
#include <functional>

namespace corvex {

// The custom exception kind of script errors.
constexpr int BBXScriptExceptionType = 3; // "javascript"

// Records one custom exception (type, name, reason) without frames and without an urgent
// submission; answers whether it was recorded. The exception capture supplies it.
using BBXScriptExceptionRecorder =
    std::function<bool(int type, const QByteArray& name, const QByteArray& reason)>;
void BBXWKWebViewSetExceptionRecorder(BBXScriptExceptionRecorder recorder);

// The error-catching script an engine with user scripts would be given (at document end, in
// the main frame only); it posts {msg, url, line, column} to the "blackbox" handler.
const char* BBXWKWebViewUserScriptSource();
// Always false here: no web engine of this program takes user scripts.
bool BBXWKWebViewInstallUserScript(void* configuration);
// A dictionary body's "msg" (as UTF-8) becomes a "javascript" exception named "exception";
// any other body, or no recorder, records nothing and answers false.
bool BBXWKWebViewRecordScriptMessage(const QVariant& body);

} // namespace corvex
