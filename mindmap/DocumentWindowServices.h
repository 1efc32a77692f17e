#pragma once

#include "mindmap/DragTarget.h"
#include "model/Idea.h"
#include "platform/core/Completion.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

class BaseViewController;
class Event;
class IdeaView;
class View;

// What the mind map uses of the document window that shows it, for the window class of the
// application shell to adopt beside Window (class DocumentWindow : public Window, public
// DocumentWindowServices). A view finds it through its window; a window that does not adopt
// it offers none. The title and closing are the Window's own. Every service but the
// container view has a version here that logs that the window does not offer it and does
// nothing, so a window adopts what it has. Main thread only.
class DocumentWindowServices
{
public:
    virtual ~DocumentWindowServices();

    // The view that holds the window's current screen and anything laid over it (alerts,
    // slide-up screens).
    virtual std::shared_ptr<View> containerView() const = 0;

    // Makes the screen the window's top-level screen (faded in when animated): its view goes
    // into the container view, it becomes first responder and hears
    // becameTopLevelController; the completion (may be empty) runs once, on a later turn, when
    // the new screen shows (after its fade when animated). A window without the service
    // still answers.
    virtual void switchToViewController(const std::shared_ptr<BaseViewController>& screen, bool animated,
                                        Completion<> completion);
    // The document's URL, shown as the title bar's proxy (null: none).
    virtual void setDocURL(const QUrl& url);
    // The edited flag of the window's document.
    virtual void setDocumentEdited(bool edited);
    virtual bool isDocumentEdited() const;
    // The cloud icon for the location's status (locations 2 and 3; none otherwise).
    virtual void setCloudIconStateForLocation(unsigned location);
    // A short notice over the window, shown 200 ms later.
    virtual void showShortNotificationToUser(const QString& text);

    // The dock: at most one idea with its document identifier; it belongs to the window and
    // survives screen switches.
    virtual IdeaPtr currentDockedIdea() const;
    virtual QString currentDockedDocIdentifier() const;
    virtual void setDockedIdea(const IdeaPtr& idea, const QString& docIdentifier);
    void removeDockedIdea() { setDockedIdea(nullptr, QString()); }

    // --- Drag and drop ---
    // Starts a window-level drag of the idea the example view shows (its identifiers), from
    // `fromView`, at the event's position. While it runs the window asks its current screen
    // (when that adopts DragSupportDelegate) where a drop would land; a refused drop flies
    // the image back to `returnTarget`; at the end the screen where the drag began hears
    // dragOperationEndedWithResult.
    virtual void startDragForEvent(const Event& event, View& fromView,
                                   const std::shared_ptr<IdeaView>& exampleIdeaView,
                                   const DragTarget& returnTarget);
    // --- end ---

    // The services of the window `view` is in; null when it is in no window or in one that
    // does not offer them.
    static DocumentWindowServices* forView(const View& view);
    // Whether another screen is shown over the one that holds `view` (an editor, the export
    // screen, the next screen fading in): the user works there, not on the view. False in a
    // window that offers no container view.
    static bool isCoveredByAnotherScreen(const View& view);
};

} // namespace corvex
