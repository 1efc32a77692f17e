#include "toolkit/LosingChangesAlert.h"

#include "model/Globals.h"

namespace corvex {

std::shared_ptr<CustomAlertView> LosingChangesAlert::create(const BaseViewController::UnsavedChanges& lost,
                                                            Action action, CAVButton::Block proceed,
                                                            CAVButton::Block cancel)
{
    const auto text = [](const char* english) {
        return Globals::normalLocalizedStringForKey(QString(), QString::fromUtf8(english));
    };
    const QString title = text("The latest changes to \u201c%1\u201d could not be saved.").arg(lost.mapName);
    QString message = action == Action::Close ? text("If you close the window now, they are lost.")
                                              : text("If you quit now, they are lost.");
    if (!lost.reason.isEmpty())
        message = lost.reason + QStringLiteral("\n\n") + message;
    auto alert = CustomAlertView::create(title, message);
    alert->addButton(text("Cancel"), CAVButton::CancelType, std::move(cancel));
    alert->addButton(action == Action::Close ? text("Close Anyway") : text("Quit Anyway"),
                     CAVButton::DestructiveType, std::move(proceed));
    return alert;
}

} // namespace corvex
