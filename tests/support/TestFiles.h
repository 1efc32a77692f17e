#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/stat.h>

namespace corvex::test {

// The bytes of a file; empty when it cannot be read (a missing file is often what a test
// expects, so this records no failure).
QByteArray readFile(const QString& path);

// Writes the bytes, making the folders on the way; a file that cannot be written in full
// fails the running test.
void writeFile(const QString& path, const QByteArray& bytes);

// The names in a folder, hidden ones included, sorted by name; empty when it does not exist.
QStringList folderEntries(const QString& path);

// The permission bits of a file (links followed); 0 when it does not exist.
mode_t filePermissions(const QString& path);

// The entries under `folder`, itself included, whose mode is not the user's alone (0700 for a
// folder, 0600 for anything else), each as "<path> <octal mode>"; `seen` gets every entry's
// path below `folder` (beginning with "/").
QStringList widerThanTheUsers(const QString& folder, QStringList* seen = nullptr);

// The process's umask for a scope, for tests whose expected modes assume one.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t mask) : mPrevious(::umask(mask)) {}
    ~ScopedUmask() { ::umask(mPrevious); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t mPrevious;
};

} // namespace corvex::test
