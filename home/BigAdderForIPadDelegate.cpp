#include "home/BigAdderForIPadDelegate.h"

namespace corvex {

BigAdderForIPadDelegate::~BigAdderForIPadDelegate() = default;

} // namespace corvex
