#include "platform/ui/MenuDelegate.h"

namespace corvex {

MenuDelegate::~MenuDelegate() = default;

void MenuDelegate::menuWillOpen(Menu&) {}

void MenuDelegate::menuDidClose(Menu&) {}

} // namespace corvex
