#include "toolkit/UserInteractionProtocol.h"

namespace corvex {

UserInteractionProtocol::~UserInteractionProtocol() = default;

} // namespace corvex
