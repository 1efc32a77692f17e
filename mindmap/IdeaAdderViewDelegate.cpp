#include "mindmap/IdeaAdderViewDelegate.h"

namespace corvex {

IdeaAdderViewDelegate::~IdeaAdderViewDelegate() = default;

} // namespace corvex
