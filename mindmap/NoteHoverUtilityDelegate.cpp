#include "mindmap/NoteHoverUtilityDelegate.h"

namespace corvex {

NoteHoverUtilityDelegate::~NoteHoverUtilityDelegate() = default;

} // namespace corvex
