#include "webpage/WebEngineSandbox.h"

#include "platform/core/Log.h"

#include <QByteArray>
#include <cstdlib>
#include <unistd.h>

namespace corvex {

namespace {

// Read by the engine when it starts; any value switches the sandbox off.
constexpr const char* kDisableSandbox = "QTWEBENGINE_DISABLE_SANDBOX";

} // namespace

bool WebEngineSandbox::mustSwitchOff(uid_t effectiveUser)
{
    return effectiveUser == 0;
}

bool WebEngineSandbox::prepare()
{
    if (qEnvironmentVariableIsSet(kDisableSandbox))
        return true;
    if (!mustSwitchOff(::geteuid()))
        return false;
    ::setenv(kDisableSandbox, "1", 1);
    Log::info(QStringLiteral("Running as root: the web engine's sandbox is switched off, since the engine "
                             "cannot start as root with it"));
    return true;
}

} // namespace corvex
