#pragma once

#include <QString>

namespace corvex::test {

// What every test process fixes before Qt starts: the Qt platform plugin, a non-UTC time zone
// with summer time (Central European time), the language, no accessibility bus, and only
// loopback hosts for platform/net.
void fixTestProcessEnvironment(const char* qtPlatform);

// Makes the XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR, HOME and TMPDIR of a
// test as folders of `dir` (0700) and points the environment and CORVEX_TEST_DIR at them, so
// that helper processes see them too.
void makeTestFolders(const QString& dir);

} // namespace corvex::test
