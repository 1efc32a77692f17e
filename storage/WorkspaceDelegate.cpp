#include "storage/WorkspaceDelegate.h"

namespace corvex {

WorkspaceDelegate::~WorkspaceDelegate() = default;

} // namespace corvex
