#include "toolkit/ButtonViewDelegate.h"

namespace corvex {

ButtonViewDelegate::~ButtonViewDelegate() = default;

} // namespace corvex
