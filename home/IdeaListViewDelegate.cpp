#include "home/IdeaListViewDelegate.h"

namespace corvex {

IdeaListViewDelegate::~IdeaListViewDelegate() = default;

} // namespace corvex
