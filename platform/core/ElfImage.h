#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace corvex {

// What the reporting kit needs to know of an ELF image: its architecture and an identifier
// that changes whenever the binary does. The build-id note is the identifier (the
// executables link with --build-id=md5, 16 bytes, the size of a Mach-O UUID); an image
// without one is identified by the first 16 bytes of the SHA-1 of its file.
struct ElfImageInfo
{
    QString path;         // the file, for the running executable /proc/self/exe resolved
    QString architecture; // from e_machine: "x86_64", "arm64", "i386", "armv7", else "unknown"
    std::uint16_t machine = 0;
    bool is64Bit = false;
    QByteArray buildId; // the whole note, empty when there is none
    QByteArray uuid;    // 16 bytes: the build id (cut or padded with zeros), else the SHA-1
};

class ElfImage
{
public:
    static const QString ErrorDomain; // "ElfImageErrorDomain"

    // The running executable, read once per process through a read-only mapping of its file.
    static const Result<ElfImageInfo>& currentExecutable();

    // Reads an image from its bytes (any byte order, 32 or 64 bits). Every offset and count
    // is checked against `size`; a damaged image answers an Error.
    static Result<ElfImageInfo> readBytes(const void* bytes, std::size_t size);
    // Maps the file read-only and reads it; `path` becomes ElfImageInfo::path.
    static Result<ElfImageInfo> readFile(const QString& path);

    static QString architectureName(std::uint16_t machine);
};

} // namespace corvex
