// JsonText::parse on arbitrary bytes, with a small depth bound and the default one. Whatever
// parses must write out and read back as an equal value, and writing that again must give
// the same text (key order and number spelling are stable).

#include "platform/core/JsonText.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_json_text: %s %s\n", what, detail.left(300).constData());
    std::abort();
}

void check(const QByteArray& input, int maxDepth)
{
    const auto parsed = corvex::JsonText::parse(input, maxDepth);
    if (!parsed.ok()) {
        if (parsed.error().domain() != corvex::JsonText::ErrorDomain ||
            parsed.error().localizedDescription().isEmpty())
            fail("an error without domain or text");
        return;
    }
    const QByteArray text = corvex::JsonText::serialize(*parsed);
    const auto again = corvex::JsonText::parse(text, maxDepth);
    if (!again.ok())
        fail("written text does not parse:", again.error().toString().toUtf8());
    if (!(*again == *parsed))
        fail("written text reads back different:", text);
    if (corvex::JsonText::serialize(*again) != text)
        fail("writing twice differs:", text);
    const auto pretty = corvex::JsonText::parse(corvex::JsonText::serializePretty(*parsed), maxDepth);
    if (!pretty.ok() || !(*pretty == *parsed))
        fail("pretty text reads back different:", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    check(input, 8);
    check(input, corvex::JsonText::DefaultMaxDepth);
    return 0;
}
