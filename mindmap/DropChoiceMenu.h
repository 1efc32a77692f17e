#pragma once

#include "mindmap/ScreenDrops.h"

#include <functional>
#include <optional>
#include <vector>

namespace corvex {

class View;

// The pop-up menu a drop offers on either screen: one entry per choice with its shown
// text, and a cancel for a menu closed without a choice. `chosen` hears the choice, or
// nullopt for the cancel, once. Returns when the menu has closed. Main thread only.
//
// `chosen` is the screen's own step, run by the menu item's action as the menu answers: the
// choice takes the screen in that turn, so a second drop or a close meanwhile finds it busy.
// The drop's answer to the window is its DropCompletion.
class DropChoiceMenu
{
public:
    using DropChoice = ScreenDrops::DropChoice;

    static void show(const std::vector<DropChoice>& choices, const Rect& rect, View& inView,
                     std::function<void(std::optional<DropChoice> choice)> chosen);
};

} // namespace corvex
