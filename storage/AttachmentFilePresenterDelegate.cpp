#include "storage/AttachmentFilePresenterDelegate.h"

namespace corvex {

AttachmentFilePresenterDelegate::~AttachmentFilePresenterDelegate() = default;

} // namespace corvex
