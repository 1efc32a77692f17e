#include "toolkit/LongTapAndDragGestureDetectorDelegate.h"

namespace corvex {

LongTapAndDragGestureDetectorDelegate::~LongTapAndDragGestureDetectorDelegate() = default;

} // namespace corvex
