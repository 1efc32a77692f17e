#pragma once

#include "platform/gfx/Rect.h"

#include <QString>
#include <memory>

namespace corvex {

class Event;
class Menu;

// What the document grid asks its owner (the home screen). Main thread only.
class IdeaListViewDelegate
{
public:
    virtual ~IdeaListViewDelegate();
    // Open the document; with startEditing, edit its root idea instead.
    virtual void onDrillDownTo(const QString& docIdentifier, bool startEditing) = 0;
    virtual void pleaseCreateNewIdea() = 0;
    // Whether the document's planet is drawn half transparent.
    virtual bool hasShadowModeForDocument(const QString& docIdentifier) = 0;
    // A long press on a planet (null identifiers when none lay under it).
    virtual void startDragForIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                  const Rect& fromRect, const Event* event) = 0;
    // The context menu of a document, or null.
    virtual std::shared_ptr<Menu> onRightClickAtDocument(const QString& docIdentifier) = 0;
};

} // namespace corvex
