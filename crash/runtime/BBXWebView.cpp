// Ordinary code: never run at crash time.

#include "crash/runtime/BBXWebView.h"

#include <QVariantMap>
#include <mutex>

namespace corvex {

namespace {

std::mutex gBBXWebViewMutex;
BBXScriptExceptionRecorder gBBXWebViewRecorder;

// The page's own handlers keep working: they are stored and called after the report.
const char BBXWebViewScriptPrelude[] = "var blackboxOriginalOnLoad = window.onload;\n"
                                       "var blackboxOriginalOnError = window.onerror;\n"
                                       "window.onerror = blackboxOnError;\n"
                                       "window.onload = blackboxOnLoad;\n"
                                       "function blackboxOnLoad() {\n"
                                       "  if (window.onerror !== blackboxOnError) {\n"
                                       "    blackboxOriginalOnError = window.onerror;\n"
                                       "    window.onerror = blackboxOnError;\n"
                                       "  }\n"
                                       "  if (typeof blackboxOriginalOnLoad === 'function') {\n"
                                       "    blackboxOriginalOnLoad.apply(this, arguments);\n"
                                       "  }\n"
                                       "}\n";
const char BBXWebViewScriptOnError[] = "function blackboxOnError(msg, url, line, column, error) {\n"
                                       "  window.webkit.messageHandlers.blackbox.postMessage({msg: msg, url: "
                                       "url, line: line, column: column});\n"
                                       "  if (typeof blackboxOriginalOnError === 'function') {\n"
                                       "    return blackboxOriginalOnError(msg, url, line, column, error);\n"
                                       "  }\n"
                                       "}\n";

} // namespace

void BBXWKWebViewSetExceptionRecorder(BBXScriptExceptionRecorder recorder)
{
    std::lock_guard lock(gBBXWebViewMutex);
    gBBXWebViewRecorder = std::move(recorder);
}

const char* BBXWKWebViewUserScriptSource()
{
    static const QByteArray source = QByteArray(BBXWebViewScriptPrelude) + BBXWebViewScriptOnError;
    return source.constData();
}

bool BBXWKWebViewInstallUserScript(void*)
{
    return false;
}

bool BBXWKWebViewRecordScriptMessage(const QVariant& body)
{
    if (body.typeId() != QMetaType::QVariantMap)
        return false;
    const QByteArray message = body.toMap().value(QStringLiteral("msg")).toString().toUtf8();
    BBXScriptExceptionRecorder recorder;
    {
        std::lock_guard lock(gBBXWebViewMutex);
        recorder = gBBXWebViewRecorder;
    }
    return recorder && recorder(BBXScriptExceptionType, QByteArrayLiteral("exception"), message);
}

} // namespace corvex
