#pragma once

#include <QString>

namespace corvex::test {

// The folder of the running test: fresh for every test, removed after it, and the parent
// of the XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and HOME that the
// shared test main points the environment at (so helper processes see the same folders).
QString testDir();

// Where tests write images and other output for a person to look at: the build folder's
// "test-output", made on first use.
QString testOutputDir();

// True in a sanitizer build (or with CORVEX_SANITIZED=1); heavy tests scale down there.
bool isSanitized();
int heavyScale(int normal, int sanitized);

// The path of the running test executable (for helper processes).
QString selfExecutable();

} // namespace corvex::test
