#include "mindmap/DockAreaViewDelegate.h"

namespace corvex {

DockAreaViewDelegate::~DockAreaViewDelegate() = default;

} // namespace corvex
