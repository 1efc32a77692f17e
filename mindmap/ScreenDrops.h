#pragma once

#include "mindmap/DockAreaViewDelegate.h"
#include "mindmap/DragSupportDelegate.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaEditResult.h"
#include "storage/IdeaEditingService.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class DocumentWindowServices;
class View;

// What the home screen and the mind-map screen do alike with an idea dropped on them: one
// drop decided at a time, its idea and source kept until it ends, the window's dock and
// delete area answered the same way, the choice menu, and answers of storage calls and menus
// counted only while the drop they belong to is still being decided (a serial tells drops
// apart). Each screen says where its own targets are and what a choice does there, and
// starts the drags that leave its dock. Main thread only.
class ScreenDrops : public DragSupportDelegate, public DockAreaViewDelegate
{
public:
    // The choices a drop may offer; dispatched by these ids, never by their texts.
    enum class DropChoice
    {
        MoveInside,
        CopyInside,
        MoveHere,
        CopyHere,
        CreateLink,
        Delete,
    };
    // The shown text: the string table's text of the choice's "Choice." key.
    static QString dropChoiceTitle(DropChoice choice);
    // Within this distance of the dock's or the delete area's centre a drop goes there.
    static constexpr double DropAreaGravityRadius = 80.0;
    using BoolCompletion = Completion<bool>;

    // `acceptAssertion` names the screen's method in the assertions a drop logs.
    explicit ScreenDrops(const char* acceptAssertion) : mAcceptAssertion(acceptAssertion) {}

    // Refuses a drop while another is decided or the screen cannot take one; otherwise
    // the empty target ends it unaccepted, the delete area offers the deletion (a docked
    // idea is simply taken out), and every other target is the screen's (acceptDropAt).
    void dragOperationEndedAcceptingIdea(const DragInfo& info, const IdeaPtr& idea,
                                         const QString& docIdentifier, DropCompletion completion) final;

    // Carries out a choice of the drop being decided; none is the menu closed without one.
    virtual void copyPasteAction(std::optional<DropChoice> choice) = 0;
    // Ends the drop being decided with the code (see DragResult).
    virtual void handleDragEndWithResult(DragResult result) = 0;
    // The window's services; null when the screen is in no document window.
    virtual DocumentWindowServices* windowServices() const = 0;

    // A drop is being decided (its choice menu may be open).
    bool dropBeingDecided() const { return mDrop.has_value(); }
    const IdeaPtr& ideaBeingAccepted() const { return mIdeaBeingAccepted; }

protected:
    // The screen itself, weakly: late answers must not keep it alive.
    virtual std::weak_ptr<ScreenDrops> weakScreenDrops() = 0;
    // Whether the screen can decide a drop now (not while it is busy).
    virtual bool canDecideDrop() const = 0;
    // A target of the screen's own, or the dock: false for a kind it does not know.
    virtual bool acceptDropAt(const DragTarget& target) = 0;
    // Offers the deletion at the delete area the target names; false when it cannot.
    virtual bool offerDeletionAt(const DragTarget& target) = 0;
    // A drop refused while no other is decided.
    virtual void dropRefused() {}
    // The target is known and the drop is about to be decided.
    virtual void dropWillBeDecided() {}
    // A docked idea dropped elsewhere (not back into the dock) leaves the dock.
    virtual void dropTookIdeaOutOfDock();
    // A docked idea dropped on the delete area left the dock.
    virtual void dockedIdeaDeleted() {}

    const QString& ideaBeingAcceptedDocIdentifier() const { return mIdeaBeingAcceptedDocIdentifier; }
    // Shows the choices at `rect` of `inView`; the pick comes back to copyPasteAction.
    void offerDropChoices(const std::vector<DropChoice>& choices, const Rect& rect, View& inView);
    // Whether a choice from the menu still counts: a menu answering after its drop ended
    // changes nothing, and one closed without a choice ends the drop unaccepted.
    bool dropChoiceCounts(const std::optional<DropChoice>& choice);
    // Copies the idea's pictures into `location` first; without them the drop ends
    // unaccepted, with them `then` runs, both only while this drop is still decided.
    // `then` is the screen's own next step, run in the turn that found the drop still
    // decided (so it never meets a drop that ended meanwhile).
    void copyAttachmentsThen(StorageLocation location, std::function<void()> then);
    // An edit's answer: the drop ends Moved (a deletion too) or Copied as the edit went, or
    // unaccepted when it was refused, unless the drop ended meanwhile.
    IdeaEditingService::EditCompletion endDropOnOutcome();
    // The end of a drop: the idea forgotten, then the window told the result once.
    void forgetIdeaBeingAccepted();
    void runAfterAcceptance(DragResult result);
    // The window ended the drag itself: no answer of the drop counts from now on.
    void abandonDrop();
    // The drop being decided now, if any, tells its answers by this serial.
    std::uint64_t dropSerial() const { return mDropSerial; }
    bool isCurrentDrop(std::uint64_t serial) const { return mDropSerial == serial && mDrop; }

private:
    // The drop being decided: where it came from, its target and the window's completion.
    struct Drop
    {
        DragInfo drag;
        DragTarget target;
        DropCompletion completion;
    };

    const char* mAcceptAssertion;
    IdeaPtr mIdeaBeingAccepted;
    QString mIdeaBeingAcceptedDocIdentifier;
    std::optional<Drop> mDrop;
    // Counts drops, so that a late answer of an earlier one finds it over.
    std::uint64_t mDropSerial = 0;
};

} // namespace corvex
