#include "webpage/WebEngineMessages.h"

#include <QString>
#include <QtGlobal>
#include <cstring>

namespace corvex {

namespace {

QtMessageHandler gPrevious = nullptr;

bool isStartChatter(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        return false;
    const char* category = context.category ? context.category : "";
    if (std::strcmp(category, "qt.webenginecontext") == 0)
        return true;
    return std::strcmp(category, "default") == 0 && message == QLatin1String("Sandboxing disabled by user.");
}

void filterMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (isStartChatter(type, context, message))
        return;
    if (gPrevious)
        gPrevious(type, context, message);
}

} // namespace

void WebEngineMessages::quieten()
{
    static bool installed = false;
    if (installed || qEnvironmentVariableIsSet(kLogVariable))
        return;
    installed = true;
    gPrevious = qInstallMessageHandler(filterMessage);
}

} // namespace corvex
