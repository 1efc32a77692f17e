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

// True in a sanitizer tree (its compile definition CORVEX_SANITIZED); heavy tests scale down there.
bool isSanitized();
int heavyScale(int normal, int sanitized);

// Soak loops (kill loops, storms, crash loops) live in test suites named "...Soak". They
// run `full` times under tools/soak (CORVEX_SOAK=1), and scaled down in the test command:
// heavyScale(ci, sanitized).
bool isSoak();
int soakRuns(int full, int ci, int sanitized);
// The figures of a soak loop, one line "<Suite>.<Test>: <figures>", printed and, under
// tools/soak, added to the report file it names in CORVEX_SOAK_REPORT.
void reportSoak(const QString& figures);

// The path of the running test executable (for helper processes).
QString selfExecutable();

} // namespace corvex::test
