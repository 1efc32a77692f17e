#include "mindmap/ParentIdeaViewDelegate.h"

namespace corvex {

ParentIdeaViewDelegate::~ParentIdeaViewDelegate() = default;

} // namespace corvex
