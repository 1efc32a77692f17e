#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvex {

// File names as the file system holds them: bytes, most often UTF-8 but not always (a name
// made on another system, or by a program that wrote Latin-1). Text turns such bytes into
// U+FFFD and so loses the file; here each byte that is not part of valid UTF-8 becomes a code
// point of its own, U+10FF80 to U+10FFFF (the last private-use block, 0x80 to 0xFF added),
// and back again, so that a path read from the command line, handed over or kept in the saved
// state opens and saves under its own bytes. The bytes of a valid sequence that spells one of
// those code points are escaped too, so every byte string comes back exactly.
// The file layer encodes paths with encode(); what the user reads goes through forDisplay().
// Any thread.
class NativeFileName
{
public:
    NativeFileName() = delete;

    static QString decode(QByteArrayView bytes);
    static QByteArray encode(QStringView path);
    // Whether the path holds a byte that is not UTF-8.
    static bool hasEscapes(QStringView path);
    // The path with each escaped byte shown as U+FFFD.
    static QString forDisplay(const QString& path);

private:
    static constexpr char32_t FirstEscape = 0x10FF80;
};

} // namespace corvex
