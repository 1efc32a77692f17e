// The response-header parser of platform/net on arbitrary bytes: the input is cut into
// lines at each line feed (kept, as libcurl hands them over) and fed in order. Whatever it
// answers must stay within the parser's bounds, and a refusal must stick.

#include "platform/net/HttpResponseHeaderParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using corvex::HttpResponseHeaderParser;

[[noreturn]] void headerFuzzFail(const char* what)
{
    std::fprintf(stderr, "fuzz_http_response_headers: %s\n", what);
    std::abort();
}

bool isTokenByte(char c)
{
    return c > 0x20 && c < 0x7f && c != ':' && c != '(' && c != ')' && c != ',' && c != '/' && c != ';' &&
           c != '<' && c != '=' && c != '>' && c != '?' && c != '@' && c != '[' && c != '\\' && c != ']' &&
           c != '{' && c != '}' && c != '"';
}

void checkState(const HttpResponseHeaderParser& parser)
{
    if (parser.failed()) {
        if (parser.error().isEmpty())
            headerFuzzFail("a refusal without a reason");
        return;
    }
    if (parser.blockCount() > 0 && (parser.statusCode() < 100 || parser.statusCode() > 999))
        headerFuzzFail("a status code out of range");
    if (parser.headers().size() > HttpResponseHeaderParser::MaxFields)
        headerFuzzFail("more fields than the limit");
    qsizetype bytes = 0;
    for (const auto& field : parser.headers().fields()) {
        if (field.first.isEmpty())
            headerFuzzFail("a field without a name");
        for (const char c : field.first) {
            if (!isTokenByte(c))
                headerFuzzFail("a field name with a byte outside the token set");
        }
        bytes += field.first.size() + field.second.size();
    }
    if (bytes > HttpResponseHeaderParser::MaxBlockBytes)
        headerFuzzFail("fields larger than the block limit");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    HttpResponseHeaderParser parser;
    std::size_t start = 0;
    while (start < size) {
        std::size_t end = start;
        while (end < size && bytes[end] != '\n')
            ++end;
        if (end < size)
            ++end; // the line feed belongs to its line
        const bool wasFailed = parser.failed();
        const bool accepted = parser.feedLine(bytes + start, qsizetype(end - start));
        if (wasFailed && accepted)
            headerFuzzFail("a line accepted after a refusal");
        if (accepted == parser.failed())
            headerFuzzFail("the answer and the state disagree");
        checkState(parser);
        start = end;
    }
    return 0;
}
