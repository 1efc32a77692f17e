#include "platform/ui/AlertRunner.h"

#include "platform/core/Log.h"

#include <QCoreApplication>

namespace corvex {

AlertRunner::~AlertRunner() = default;

QString AlertRunner::defaultButtonTitle()
{
    // The context in which Qt translates its standard button texts.
    return QCoreApplication::translate("QPlatformTheme", "OK");
}

int AlertRunner::runModal(const Alert& alert)
{
    Alert shown = alert;
    if (shown.buttons.empty())
        shown.addButton(defaultButtonTitle(), Alert::NormalButton);
    const std::optional<int> pressed = present(shown);
    int index = shown.dismissalIndex();
    if (pressed) {
        if (*pressed >= 0 && *pressed < int(shown.buttons.size()))
            index = *pressed;
        else
            Log::assertionFailure(
                QStringLiteral("Alert answered a button it does not have: %1").arg(*pressed));
    }
    return FirstButtonReturn + index;
}

} // namespace corvex
