#pragma once

namespace corvex {

// The web engine tells at every start what it was started with (a block of about twenty
// lines under "qt.webenginecontext", and "Sandboxing disabled by user." where the sandbox is
// off): chatter a user reading Corvex's output has no use for, and that Corvex's own log
// already says where it matters. quieten() drops those messages below warnings, unless
// CORVEX_WEB_ENGINE_LOG is set; every other message goes on to the handler before it.
// Called before the engine starts, in the application and in the engine's check.
class WebEngineMessages
{
public:
    static constexpr const char* kLogVariable = "CORVEX_WEB_ENGINE_LOG";

    static void quieten();
};

} // namespace corvex
