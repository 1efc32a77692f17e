// Ordinary code: never run at crash time.

#include "crash/runtime/BBXFileReader.h"

#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"
#include "platform/core/JsonText.h"
#include "platform/core/WholeFileReader.h"

#include <QFile>

namespace corvex {

ValueArray BBXFileReadSectionsFromData(const QByteArray& bytes, const BBXFileSectionFilter& filter)
{
    ValueArray sections;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        if (end > start) {
            // Lines are small and flat; a hostile one is bounded in depth all the same.
            Result<Value> parsed = JsonText::parse(bytes.mid(start, end - start), 64);
            if (parsed.ok()) {
                if (!filter)
                    sections.push_back(std::move(parsed.value()));
                else if (std::optional<Value> kept = filter(parsed.value()))
                    sections.push_back(std::move(*kept));
            }
        }
        start = end + 1;
    }
    return sections;
}

std::optional<ValueArray> BBXFileReadSections(const QString& path, bool unlinkOnFailure,
                                              const BBXFileSectionFilter& filter)
{
    if (path.isEmpty()) {
        BBX_LOG_ERROR("Error: input path is invalid");
        return std::nullopt;
    }
    // Record files lie in the reporter's own folders: a link there was placed by another hand.
    const Result<QByteArray> bytes =
        WholeFileReader::read(path, BBXFileReadMaximumBytes, QStringLiteral("Cannot open the record"),
                              QStringLiteral("Cannot read the record"), RegularFile::Links::NoFollow);
    if (!bytes.ok()) {
        const QByteArray name = QFile::encodeName(path);
        BBX_LOG_WARN("Unable to read file %s", name.constData());
        if (unlinkOnFailure)
            BBXUnlinkIfExists(name.constData());
        return std::nullopt;
    }
    return BBXFileReadSectionsFromData(bytes.value(), filter);
}

QByteArray BBXFileHexDecodeBytes(QByteArrayView hex)
{
    QByteArray bytes;
    bytes.reserve(hex.size() / 2);
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
        const std::uint8_t high = BBXHexDigitValue(hex[i]);
        const std::uint8_t low = BBXHexDigitValue(hex[i + 1]);
        if (high > 15 || low > 15)
            break;
        bytes.append(char((high << 4) | low));
    }
    return bytes;
}

QString BBXFileHexDecodeString(const QString& hex)
{
    return QString::fromUtf8(BBXFileHexDecodeBytes(hex.toLatin1()));
}

} // namespace corvex
