#include "toolkit/RoundedTextButtonDelegate.h"

namespace corvex {

RoundedTextButtonDelegate::~RoundedTextButtonDelegate() = default;

} // namespace corvex
