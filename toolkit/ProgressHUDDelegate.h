#pragma once

namespace corvex {

class ProgressHUD;

// What a progress HUD tells its delegate. Every call is optional: the defaults do nothing.
// Called on the main thread.
class ProgressHUDDelegate
{
public:
    virtual ~ProgressHUDDelegate();

    // The HUD has been hidden (once per showing).
    virtual void hudWasHidden(ProgressHUD& hud);
    // A hide requested with a delay is due; the hide follows.
    virtual void hudWasHiddenAfterDelay(ProgressHUD& hud);
    // A click dismissed the HUD.
    virtual void hudWasTapped(ProgressHUD& hud);
};

} // namespace corvex
