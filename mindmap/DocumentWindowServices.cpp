#include "mindmap/DocumentWindowServices.h"

#include "platform/core/Log.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "toolkit/BaseViewController.h"

namespace corvex {

namespace {

void logMissingWindowService(const char* service)
{
    Log::warning(
        QStringLiteral("DocumentWindowServices: this window offers no %1").arg(QLatin1String(service)));
}

} // namespace

DocumentWindowServices::~DocumentWindowServices() = default;

void DocumentWindowServices::switchToViewController(const std::shared_ptr<BaseViewController>&, bool,
                                                    std::function<void()>)
{
    logMissingWindowService("screen switching");
}

void DocumentWindowServices::setDocURL(const QUrl&)
{
    logMissingWindowService("document URL");
}

void DocumentWindowServices::setDocumentEdited(bool)
{
    logMissingWindowService("edited flag");
}

bool DocumentWindowServices::isDocumentEdited() const
{
    return false;
}

void DocumentWindowServices::setCloudIconStateForLocation(unsigned)
{
    logMissingWindowService("cloud icon");
}

void DocumentWindowServices::showShortNotificationToUser(const QString& text)
{
    Log::warning(QStringLiteral("DocumentWindowServices: this window shows no notices: %1").arg(text));
}

IdeaPtr DocumentWindowServices::currentDockedIdea() const
{
    return nullptr;
}

QString DocumentWindowServices::currentDockedDocIdentifier() const
{
    return QString();
}

void DocumentWindowServices::setDockedIdea(const IdeaPtr&, const QString&)
{
    logMissingWindowService("dock");
}

// --- Drag and drop ---
void DocumentWindowServices::startDragForEvent(const Event&, View&, const std::shared_ptr<IdeaView>&,
                                               const DragTarget&)
{
    logMissingWindowService("window-level drags");
}
// --- end ---

DocumentWindowServices* DocumentWindowServices::forView(const View& view)
{
    return dynamic_cast<DocumentWindowServices*>(view.window());
}

} // namespace corvex
