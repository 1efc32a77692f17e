#include "storage/IdeaEditObserver.h"

namespace corvex {

IdeaEditObserver::~IdeaEditObserver() = default;

} // namespace corvex
