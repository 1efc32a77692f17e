#include "platform/ui/PopoverDelegate.h"

namespace corvex {

PopoverDelegate::~PopoverDelegate() = default;
void PopoverDelegate::popoverWillShow(Popover&) {}
void PopoverDelegate::popoverDidShow(Popover&) {}
void PopoverDelegate::popoverDidClose(Popover&) {}

} // namespace corvex
