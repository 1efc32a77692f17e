#pragma once

#include <QString>
#include <vector>

namespace corvex::test {

// The four things a path can name that no reader may block on or read as a file: a named
// pipe without a writer, a folder, a bound socket and a symbolic link that leads back to
// itself, each made in `folder` under `name` with the reason a reader's refusal gives.
struct NonRegularFile
{
    const char* kind;
    QString path;
    QString reason;
};

// Fails the test (and answers what it made) when one cannot be made.
std::vector<NonRegularFile> makeNonRegularFiles(const QString& folder, const QString& name);

} // namespace corvex::test
