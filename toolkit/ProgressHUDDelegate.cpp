#include "toolkit/ProgressHUDDelegate.h"

namespace corvex {

ProgressHUDDelegate::~ProgressHUDDelegate() = default;

void ProgressHUDDelegate::hudWasHidden(ProgressHUD&) {}

void ProgressHUDDelegate::hudWasHiddenAfterDelay(ProgressHUD&) {}

void ProgressHUDDelegate::hudWasTapped(ProgressHUD&) {}

} // namespace corvex
