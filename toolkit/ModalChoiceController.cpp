#include "toolkit/ModalChoiceController.h"

#include "platform/core/MainQueue.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/MenuRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/View.h"

#include <any>

namespace corvex {

ModalChoiceController::ModalChoiceController(Private) : mMenu(Menu::create(QString())) {}

std::shared_ptr<ModalChoiceController> ModalChoiceController::create()
{
    auto controller = std::make_shared<ModalChoiceController>(Private());
    controller->mMenu->setDelegate(controller);
    return controller;
}

void ModalChoiceController::addButton(const QString& titleOrNull, Block onClick)
{
    if (titleOrNull.isNull()) {
        mCancelBlock = std::move(onClick);
        return;
    }
    // Like a menu item's target, the action does not keep the controller.
    const std::weak_ptr<ModalChoiceController> weak = weak_from_this();
    auto item = MenuItem::create(
        titleOrNull,
        [weak](MenuItem& chosen) {
            if (auto self = weak.lock())
                self->onMenuItem(chosen);
        },
        QStringLiteral(""));
    item->setRepresentedObject(std::any(std::move(onClick)));
    mMenu->addItem(item);
}

void ModalChoiceController::showModallyFromRect(const Rect& rect, View& view)
{
    const std::shared_ptr<ModalChoiceController> keep = shared_from_this();
    const Point centre(rect.origin.x + rect.size.width * 0.5, rect.origin.y + rect.size.height * 0.5);
    const Point inWindow = view.convertPointToView(centre, nullptr);
    const std::shared_ptr<MenuRunner> runner = Runners::menuRunner();
    runner->popUpMenu(mMenu, nullptr, inWindow, view.window());
}

void ModalChoiceController::onMenuItem(MenuItem& item)
{
    mCancelBlock = nullptr;
    if (const auto* block = std::any_cast<Block>(&item.representedObject())) {
        // A copy: the block may change the item.
        const Block run = *block;
        if (run)
            run();
    }
}

void ModalChoiceController::menuDidClose(Menu&)
{
    MainQueue::post([self = shared_from_this()] {
        Block cancel = std::move(self->mCancelBlock);
        self->mCancelBlock = nullptr;
        if (cancel)
            cancel();
    });
}

} // namespace corvex
