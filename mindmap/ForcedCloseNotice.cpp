#include "mindmap/ForcedCloseNotice.h"

#include "model/Globals.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowTeardown.h"
#include "toolkit/CustomAlertView.h"

namespace corvex {

namespace {

QString text(const char* english)
{
    return Globals::normalLocalizedStringForKey(QString(), QString::fromUtf8(english));
}

QString locationName(StorageLocation location)
{
    switch (location) {
    case IdeaDocument::DropboxLocation:
        return QStringLiteral("Dropbox");
    case IdeaDocument::ICloudLocation:
        return QStringLiteral("iCloud");
    default:
        return text("its folder");
    }
}

} // namespace

std::optional<ForcedCloseNotice::Texts> ForcedCloseNotice::textsFor(Reason reason, const QString& mapName,
                                                                    StorageLocation location)
{
    QString message;
    switch (reason) {
    case Reason::Deleted:
        message = text("Its document was removed from %1, in another window or on another computer.");
        break;
    case Reason::Replaced:
        message = text("Its document was replaced in %1 by a different one, from another window or on "
                       "another computer.");
        break;
    case Reason::LocationSwitchedOff:
        return std::nullopt;
    }
    return Texts{text("The window of \u201c%1\u201d was closed").arg(mapName),
                 message.arg(locationName(location))};
}

void ForcedCloseNotice::tellOnceClosed(Reason reason, const QString& mapName, StorageLocation location)
{
    const std::optional<Texts> texts = textsFor(reason, mapName, location);
    if (!texts)
        return;
    WindowTeardown::afterCloses([texts = *texts] {
        CustomAlertView alert(texts.title, texts.message);
        alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString()),
                        CAVButton::NormalType, {});
        alert.showFromWindow(Window::keyWindow());
    });
}

} // namespace corvex
