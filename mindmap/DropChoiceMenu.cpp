#include "mindmap/DropChoiceMenu.h"

#include "toolkit/ModalChoiceController.h"

namespace corvex {

void DropChoiceMenu::show(const std::vector<DropChoice>& choices, const Rect& rect, View& inView,
                          std::function<void(std::optional<DropChoice> choice)> chosen)
{
    const std::shared_ptr<ModalChoiceController> menu = ModalChoiceController::create();
    for (const DropChoice choice : choices)
        menu->addButton(ScreenDrops::dropChoiceTitle(choice), [chosen, choice] {
            if (chosen)
                chosen(choice);
        });
    menu->addButton(QString(), [chosen] {
        if (chosen)
            chosen(std::nullopt);
    });
    menu->showModallyFromRect(rect, inView);
}

} // namespace corvex
