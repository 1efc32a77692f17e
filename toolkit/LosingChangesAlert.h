#pragma once

#include "toolkit/BaseViewController.h"
#include "toolkit/CustomAlertView.h"

#include <QString>
#include <memory>

namespace corvex {

// The question put before changes that could not be saved are lost, by closing their window
// or by quitting: it names the map, says that its latest changes could not be saved and why,
// and what the action loses. "Cancel" comes first, so that Return and Escape keep the
// changes; the action's button ("Close Anyway", "Quit Anyway") runs `proceed`.
class LosingChangesAlert
{
public:
    enum class Action
    {
        Close,
        Quit
    };
    static std::shared_ptr<CustomAlertView> create(const BaseViewController::UnsavedChanges& lost,
                                                   Action action, CAVButton::Block proceed,
                                                   CAVButton::Block cancel = {});
};

} // namespace corvex
