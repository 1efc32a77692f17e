#pragma once

// Ordinary code: reads record files back (the report layer, at the next launch).

#include "platform/core/Value.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

namespace corvex {

// Says what to collect for one parsed line; nothing drops it.
using BBXFileSectionFilter = std::function<std::optional<Value>(const Value& section)>;

// The largest record file read back; record files stay far below it.
constexpr qint64 BBXFileReadMaximumBytes = 256 * 1024 * 1024;

// Every line of the file that parses as JSON, in file order (or what the filter makes of
// each). Each line is parsed on its own: a damaged line, one with bytes that are not UTF-8,
// or a last line cut short costs only itself. An unreadable file (a symbolic link, which is
// never followed, or anything but a regular file within BBXFileReadMaximumBytes) is logged,
// removed when `unlinkOnFailure` is set, and answers nothing.
std::optional<ValueArray> BBXFileReadSections(const QString& path, bool unlinkOnFailure,
                                              const BBXFileSectionFilter& filter = {});
// The same over bytes already read.
ValueArray BBXFileReadSectionsFromData(const QByteArray& bytes, const BBXFileSectionFilter& filter = {});

// Pairs of hexadecimal digits (either case) from the start, stopping at the first pair that
// holds anything else; an odd last digit is ignored.
QByteArray BBXFileHexDecodeBytes(QByteArrayView hex);
// The decoded bytes as UTF-8 text (ill-formed sequences become U+FFFD).
QString BBXFileHexDecodeString(const QString& hex);

} // namespace corvex
