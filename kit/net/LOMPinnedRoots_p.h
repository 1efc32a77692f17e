#pragma once

namespace corvex {

// The PEM text of kit/net/resources/pinned_roots.pem, compiled in.
extern const char* const LOMPinnedRootsPem;

} // namespace corvex
