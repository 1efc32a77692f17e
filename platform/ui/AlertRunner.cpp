#include "platform/ui/AlertRunner.h"

#include "platform/core/Log.h"
#include "platform/ui/WindowTeardown.h"

#include <QCoreApplication>

namespace corvex {

AlertRunner::~AlertRunner() = default;

QString AlertRunner::defaultButtonTitle()
{
    // The context in which Qt translates its standard button texts.
    return QCoreApplication::translate("QPlatformTheme", "OK");
}

AlertRunner::Ending AlertRunner::show(const Alert& alert)
{
    Alert shown = alert;
    if (shown.buttons.empty())
        shown.addButton(defaultButtonTitle(), Alert::NormalButton);
    std::optional<int> pressed;
    {
        // An alert runs its own loop on the window it belongs to: that window stays until it ends.
        const WindowTeardown::ModalLoop loop;
        pressed = present(shown);
    }
    Ending ending{shown.dismissalIndex(), false};
    if (pressed && *pressed == EndedByQuit)
        ending.endedByQuit = true;
    else if (pressed && *pressed >= 0 && *pressed < int(shown.buttons.size()))
        ending.index = *pressed;
    else if (pressed)
        Log::assertionFailure(QStringLiteral("Alert answered a button it does not have: %1").arg(*pressed));
    return ending;
}

int AlertRunner::runModal(const Alert& alert)
{
    // An alert that ended without a choice stands for its dismissal button.
    return FirstButtonReturn + show(alert).index;
}

std::optional<int> AlertRunner::runModalUnlessQuit(const Alert& alert)
{
    const Ending ending = show(alert);
    if (ending.endedByQuit)
        return std::nullopt;
    return FirstButtonReturn + ending.index;
}

} // namespace corvex
