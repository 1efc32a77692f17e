#include "storage/PersistenceStateDelegate.h"

namespace corvex {

PersistenceStateDelegate::~PersistenceStateDelegate() = default;

} // namespace corvex
