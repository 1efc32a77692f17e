#include "export/ShareTypeViewDelegate.h"

namespace corvex {

ShareTypeViewDelegate::~ShareTypeViewDelegate() = default;

} // namespace corvex
