#include "storage/PersistenceControllerListener.h"

namespace corvex {

PersistenceControllerListener::~PersistenceControllerListener() = default;

} // namespace corvex
