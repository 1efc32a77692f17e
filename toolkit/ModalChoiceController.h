#pragma once

#include "platform/gfx/Rect.h"
#include "platform/ui/MenuDelegate.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class Menu;
class MenuItem;
class View;

// A pop-up menu of choices at a rectangle of a view, each choice with a block, and a cancel
// block for a menu closed without a choice. Shown through the installed menu runner
// (Runners::menuRunner); showModallyFromRect returns when the menu has closed.
//
// A choice runs only its own block. Closing without a choice runs only the cancel block,
// once, in a later turn of the main queue: the close notification schedules the cancel step,
// which runs after the chosen item's action of the same showing and so finds the cancel
// block already dropped when a choice was made. The pending step holds the controller, so
// the caller need not keep it after showModallyFromRect returns. Made, filled and shown once.
// Main thread only.
class ModalChoiceController final : public MenuDelegate,
                                    public std::enable_shared_from_this<ModalChoiceController>
{
public:
    using Block = std::function<void()>;

    // An empty menu (title "") with this controller as its delegate; no cancel block.
    static std::shared_ptr<ModalChoiceController> create();

    // With a title (not null): appends a choice with that title, no key equivalent, whose
    // action is onMenuItem and whose represented object is the block. With a null title: the
    // block becomes the cancel block, replacing any earlier one; no item is added.
    void addButton(const QString& titleOrNull, Block onClick);
    // Pops the menu up, no item placed under the pointer, at the centre of the rectangle
    // (in the view's coordinates) and returns when it has closed.
    void showModallyFromRect(const Rect& rect, View& view);

    // The action of every choice: drops the cancel block, then runs the item's block.
    void onMenuItem(MenuItem& item);
    // Schedules the cancel step on the main queue.
    void menuDidClose(Menu& menu) override;

    const std::shared_ptr<Menu>& menu() const { return mMenu; }
    bool hasCancelBlock() const { return static_cast<bool>(mCancelBlock); }

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use create(); public only for std::make_shared.
    explicit ModalChoiceController(Private);

private:
    std::shared_ptr<Menu> mMenu;
    Block mCancelBlock;
};

} // namespace corvex
