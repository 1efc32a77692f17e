#pragma once

#include "platform/core/Result.h"

#include <QString>
#include <memory>

namespace corvex {

// Moves a file into the container "as a ubiquitous item": never over an existing file. An
// existing target fails with ErrorDomain and FileExistsErrorCode (516), which callers may
// take for "it is there already". Tests replace it with one they script.
class UbiquitousMover
{
public:
    static const QString ErrorDomain; // "NSCocoaErrorDomain"
    static constexpr int FileExistsErrorCode = 516;

    virtual ~UbiquitousMover();
    virtual Status moveNoReplace(const QString& from, const QString& to) = 0;
};

// renameat2 with RENAME_NOREPLACE; across file systems (EXDEV) the file is copied to a
// hidden temporary beside the target and linked into place (link never replaces), then
// the source is removed. Where the file system refuses the flag, a link and an unlink do
// the same. Any thread.
class FileUbiquitousMover final : public UbiquitousMover
{
public:
    Status moveNoReplace(const QString& from, const QString& to) override;
};

} // namespace corvex
