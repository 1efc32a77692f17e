#include "overview/NoteRendererDelegate.h"

namespace corvex {

NoteRendererDelegate::~NoteRendererDelegate() = default;

} // namespace corvex
