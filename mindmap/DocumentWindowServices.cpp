#include "mindmap/DocumentWindowServices.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Layer.h"
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
                                                    Completion<> completion)
{
    logMissingWindowService("screen switching");
    completion();
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

bool DocumentWindowServices::isCoveredByAnotherScreen(const View& view)
{
    const DocumentWindowServices* services = forView(view);
    if (!services)
        return false;
    const std::shared_ptr<View> container = services->containerView();
    if (!container)
        return false;
    // The container's subview that holds the view is its screen; the subviews after it lie
    // over it. Hidden ones, like the container's own example picture, cover nothing.
    const View* screen = &view;
    while (screen->superview() && screen->superview() != container.get())
        screen = screen->superview();
    bool over = false;
    for (const std::shared_ptr<View>& subview : container->subviews()) {
        if (subview.get() == screen) {
            over = true;
            continue;
        }
        const bool shown = !subview->isHidden() && (!subview->layer() || subview->layer()->opacity() > 0);
        if (over && shown)
            return true;
    }
    return false;
}

} // namespace corvex
