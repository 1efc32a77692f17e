#pragma once

// Ordinary code, run once at set-up: the "metadata.bbxrecord" of the current report, which
// says who wrote the report and about what: the kit, the host, the application and its
// executable.

namespace corvex {

struct BBXContextInitParams;
struct BBXHostContext;

// Starts the file afresh with the "identity", "host", "application" and "executable" lines;
// failures are logged and leave the file as far as it got.
void BBXContextRecordMetadata(const char* path, const BBXContextInitParams* params,
                              const BBXHostContext* host);

} // namespace corvex
