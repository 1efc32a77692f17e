// The exception-port message parser on arbitrary bytes: a request of any length is parsed
// (refused when short), named through the tables and answered with a reply.

#include "crash/capture/BBXMachException.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::BBXMachExceptionRequest request;
    if (!corvex::BBXMachExceptionParseRequest(data, size, &request))
        return 0;
    const std::int64_t code = request.codeCount > 0 ? request.codes[0] : 0;
    volatile const char* name = corvex::BBXMachExceptionName(request.exception);
    volatile const char* codeName = corvex::BBXMachExceptionCodeName(request.exception, code);
    (void)name;
    (void)codeName;
    std::uint8_t reply[corvex::BBXMachExceptionReplySize];
    corvex::BBXMachExceptionBuildReply(&request, 0, reply);
    return reply[4] == corvex::BBXMachExceptionReplySize ? 0 : 1;
}
