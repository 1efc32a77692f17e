// The instance socket's parser on arbitrary bytes. Any local process of the user can write to
// the socket, so what arrives is outside bytes: fed in pieces of varying size, the parser must
// stay within its bounds and answer only absolute paths and URLs of the accepted schemes.

#include "platform/core/InstanceMessage.h"
#include "platform/core/Log.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void failInstanceFuzz(const char* what)
{
    std::fprintf(stderr, "fuzz_instance_message: %s\n", what);
    std::abort();
}

void checkMessage(const corvex::InstanceMessage& message)
{
    using Kind = corvex::InstanceMessage::Kind;
    if (message.kind == Kind::File) {
        if (!message.path.startsWith(QLatin1Char('/')))
            failInstanceFuzz("a file message without an absolute path");
        for (const QChar c : message.path) {
            if (c.unicode() < 0x20)
                failInstanceFuzz("a control character in a path");
        }
    } else if (message.url.scheme().compare(QLatin1String("db-k3rt9wq0zvm5lhx"), Qt::CaseInsensitive) != 0) {
        failInstanceFuzz("a URL of a scheme not accepted");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvex::Log::setSink([](corvex::LogLevel, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // The first byte chooses the size of the pieces the socket hands over.
    const qsizetype piece = size > 0 ? qsizetype(data[0] % 64) + 1 : 1;
    corvex::InstanceMessageParser parser(QStringList{QStringLiteral("db-k3rt9wq0zvm5lhx")});
    qsizetype count = 0;
    for (qsizetype at = 0; at < input.size(); at += piece) {
        for (const auto& message :
             parser.feed(QByteArrayView(input).sliced(at, std::min(piece, input.size() - at)))) {
            checkMessage(message);
            ++count;
        }
    }
    for (const auto& message : parser.finish()) {
        checkMessage(message);
        ++count;
    }
    if (count > corvex::InstanceMessageParser::MaxLines)
        failInstanceFuzz("more messages than lines allowed");
    return 0;
}
