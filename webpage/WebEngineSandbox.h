#pragma once

#include <sys/types.h>

namespace corvex {

// The web engine's sandbox. The engine refuses to start as root with its sandbox on, and then
// ends the whole process; so for root, and only for root, the sandbox is switched off before
// the engine starts, and the log says so once. For any other user it stays on.
class WebEngineSandbox
{
public:
    // Whether the sandbox must be switched off for a process of this effective user.
    static bool mustSwitchOff(uid_t effectiveUser);
    // Applies the decision for this process (before the first page view is made): for root,
    // QTWEBENGINE_DISABLE_SANDBOX and one log line; nothing when the environment switched it
    // off already. Returns whether the sandbox is off.
    static bool prepare();
};

} // namespace corvex
