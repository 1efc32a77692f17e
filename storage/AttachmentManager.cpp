#include "storage/AttachmentManager.h"

namespace corvex {

AttachmentManager::~AttachmentManager() = default;

} // namespace corvex
