// The analytics reader of the stored "crash_metadata" on arbitrary bytes: what it accepts
// must be a JSON object, and the metadata line made from it must be a well-framed log
// line whose payload reads back (the writer never throws, whatever the object holds).

#include "platform/core/JsonText.h"
#include "tallykit/TLYFileOperations.h"
#include "tallykit/TLYSettings.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<corvex::Value> read =
        corvex::TLYCrashMetadata::readSerializedDictionaryFromData(bytes, QStringLiteral("fuzz"));
    if (!read)
        return 0;
    if (!read->isDictionary()) {
        std::fprintf(stderr, "fuzz_crash_metadata: accepted something that is no object\n");
        std::abort();
    }
    const corvex::TLYCrashMetadata metadata(*read);
    const std::optional<QByteArray> line = corvex::TLYWriteEventOperation::logLineWithTimestamp(
        1234, metadata.eventName(), metadata.dictionaryRepresentationWithStartTime(1));
    if (!line) {
        std::fprintf(stderr, "fuzz_crash_metadata: no line for an object\n");
        std::abort();
    }
    const QList<QByteArray> fields = line->split('\t');
    const QByteArray payload =
        line->mid(fields.value(0).size() + fields.value(1).size() + fields.value(2).size() + 3);
    if (fields.size() < 4 || line->contains('\n') || fields[2].toLongLong() != payload.size() ||
        !corvex::JsonText::parse(payload).ok()) {
        std::fprintf(stderr, "fuzz_crash_metadata: a malformed metadata line\n");
        std::abort();
    }
    return 0;
}
