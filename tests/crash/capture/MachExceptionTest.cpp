// The exception-port stand-in: the tables, the request and reply layouts and the server
// loop, driven through a double of the port. Runs in both trees.

#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXMachException.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <vector>

namespace corvex::test {
namespace {

// A 92-byte request as the kernel would deliver it (header, body, thread and task
// descriptors, NDR, exception, code count, codes, trailer).
std::vector<std::uint8_t> machRequest(std::uint32_t bits, std::uint32_t remote, std::int32_t identifier,
                                      std::uint32_t thread, std::uint32_t task, std::int32_t exception,
                                      std::vector<std::int64_t> codes)
{
    std::vector<std::uint8_t> bytes(BBXMachExceptionRequestSize, 0);
    auto put32 = [&](std::size_t offset, std::uint32_t value) {
        std::memcpy(bytes.data() + offset, &value, 4);
    };
    put32(0, bits);
    put32(4, 84);
    put32(8, remote);
    put32(12, 0x1003);
    put32(20, static_cast<std::uint32_t>(identifier));
    put32(24, 2);
    put32(28, thread);
    put32(40, task);
    put32(60, static_cast<std::uint32_t>(exception));
    put32(64, static_cast<std::uint32_t>(codes.size()));
    for (std::size_t i = 0; i < codes.size() && i < 2; ++i)
        std::memcpy(bytes.data() + 68 + 8 * i, &codes[i], 8);
    return bytes;
}

// Hands out queued requests, keeps the replies, and ends the loop when the queue is empty.
struct MachPortDouble
{
    std::deque<std::vector<std::uint8_t>> requests;
    std::vector<QByteArray> replies;
    std::vector<std::uint32_t> setMasks;
    std::uint32_t task = 0x103;
    BBXMachPort port{};

    MachPortDouble()
    {
        port.self = this;
        port.receive = [](void* self, std::uint32_t, std::uint8_t* buffer, std::size_t size) -> std::int32_t {
            auto* port = static_cast<MachPortDouble*>(self);
            if (port->requests.empty())
                return 0x10004003; // receive interrupted: the loop ends
            std::memcpy(buffer, port->requests.front().data(), size);
            port->requests.pop_front();
            return 0;
        };
        port.send = [](void* self, const std::uint8_t* bytes, std::size_t size) -> std::int32_t {
            static_cast<MachPortDouble*>(self)->replies.emplace_back(reinterpret_cast<const char*>(bytes),
                                                                     qsizetype(size));
            return 0;
        };
        port.setExceptionPorts = [](void* self, std::uint32_t mask, std::uint32_t, std::uint32_t,
                                    std::uint32_t) -> std::int32_t {
            static_cast<MachPortDouble*>(self)->setMasks.push_back(mask);
            return 0;
        };
        port.taskSelf = [](void* self) { return static_cast<MachPortDouble*>(self)->task; };
    }
};

QByteArray pythonReply(std::uint32_t bits, std::uint32_t remote, std::int32_t identifier, std::int32_t code)
{
    const ProgramRun run = runProgramToEnd(QStringLiteral("/usr/bin/python3"),
                                           {QStringLiteral(CORVEX_CRASH_CAPTURE_TEST_DIR "/mach_reply.py"),
                                            QString::number(bits), QString::number(remote),
                                            QString::number(identifier), QString::number(code)});
    return QByteArray::fromHex(run.output.trimmed());
}

TEST(MachException, masksAndNamesFollowTheTablesKeyedBySignalSymbols)
{
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGILL), 4u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGTRAP), 64u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGABRT), 1024u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGSYS), 1024u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGFPE), 8u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGBUS), 2u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGSEGV), 2u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGUSR1), 0u); // the number another kernel gives SIGBUS
    EXPECT_EQ(BBXMachExceptionRegisteredMask(0, 0), 0x4Eu);
    EXPECT_EQ(BBXMachExceptionRegisteredMask(1070, 0), 0x104Eu);
    EXPECT_EQ(BBXMachExceptionRegisteredMask(0, 1024 | 2), 0x4Cu);
    EXPECT_STREQ(BBXMachExceptionCodeName(1, 2), "KERN_PROTECTION_FAILURE");
    EXPECT_EQ(BBXMachExceptionCodeName(1, 3), nullptr);
    EXPECT_STREQ(BBXMachExceptionCodeName(3, 8), "EXC_I386_SSEEXTERR");
    EXPECT_EQ(BBXMachExceptionCodeName(3, 9), nullptr);
    EXPECT_STREQ(BBXMachExceptionCodeName(6, 33), "EXC_I386_ENDPERR");
    EXPECT_EQ(BBXMachExceptionCodeName(6, 8), nullptr);
    EXPECT_EQ(BBXMachExceptionCodeName(6, 34), nullptr);
    EXPECT_STREQ(BBXMachExceptionName(12), "EXC_GUARD");
    EXPECT_EQ(BBXMachExceptionCodeName(12, 0), nullptr);
    EXPECT_EQ(BBXMachExceptionName(7), nullptr);
}

TEST(MachException, thisKernelsPortRefusesAllocationAndNothingIsRegistered)
{
    ScopedSdkLog log;
    const QByteArray path = crashTestPath("mach_exception.bbxrecord");
    writeFile(QString::fromUtf8(path), "old");
    BBXMachExceptionContext context;
    context.path = path.constData();
    BBXMachExceptionInit(&context, BBXMachExceptionSystemPort(), 0);
    EXPECT_EQ(context.exceptionPort, 0u);
    EXPECT_EQ(context.registeredMask, 0u);
    EXPECT_FALSE(QFile::exists(QString::fromUtf8(path)));
    const QByteArray text = log.text();
    EXPECT_TRUE(text.contains("Error: mach_port_allocate failed 46\n")) << text.constData();
    EXPECT_TRUE(text.contains("Unable to register mach exception handler\n"));
}

TEST(MachException, theLoopRecordsEachConstructedMessageAndRepliesAsTheStructScriptPacks)
{
    ScopedSdkLog log;
    const QByteArray path = crashTestPath("mach_exception.bbxrecord");
    MachPortDouble port;
    port.requests.push_back(machRequest(0x1513, 0x2207, 2405, 0x503, port.task, 1, {1, 16}));
    port.requests.push_back(machRequest(0x1513, 0x2207, 2406, 0x503, port.task, 6, {8}));
    port.requests.push_back(machRequest(0x12, 0x2307, 2407, 0x503, port.task, 3, {}));
    port.requests.push_back(machRequest(0x12, 0x2407, 2408, 0x503, 0x999, 2, {1})); // another task's
    BBXMachExceptionContext context;
    context.path = path.constData();
    context.port = &port.port;
    context.registeredMask = 0x4E;
    context.previous.count = 1;
    context.previous.masks[0] = 0x02;
    context.previous.ports[0] = 0x707;
    BBXMachExceptionServer(&context);

    QList<QJsonObject> lines;
    for (const QByteArray& line : readFile(QString::fromUtf8(path)).split('\n')) {
        if (!line.isEmpty())
            lines.append(QJsonDocument::fromJson(line).object());
    }
    ASSERT_EQ(lines.size(), 3 * 7); // each recording: its line and the handler's six
    auto exceptionLine = [&](int index) {
        return lines.at(index * 7).value(QStringLiteral("mach_exception")).toObject();
    };
    EXPECT_EQ(exceptionLine(0).value(QStringLiteral("name")).toString(), QStringLiteral("EXC_BAD_ACCESS"));
    EXPECT_EQ(exceptionLine(0).value(QStringLiteral("code_name")).toString(),
              QStringLiteral("KERN_INVALID_ADDRESS"));
    EXPECT_EQ(exceptionLine(0).value(QStringLiteral("codes")).toArray(), (QJsonArray{1, 16}));
    EXPECT_EQ(exceptionLine(0).value(QStringLiteral("original_ports")).toInt(), 1);
    EXPECT_EQ(exceptionLine(1).value(QStringLiteral("name")).toString(), QStringLiteral("EXC_BREAKPOINT"));
    EXPECT_TRUE(exceptionLine(1).value(QStringLiteral("code_name")).isNull());
    EXPECT_EQ(exceptionLine(2).value(QStringLiteral("name")).toString(), QStringLiteral("EXC_ARITHMETIC"));
    EXPECT_EQ(exceptionLine(2).value(QStringLiteral("codes")).toArray(), QJsonArray());
    EXPECT_TRUE(exceptionLine(2).value(QStringLiteral("code_name")).isNull()); // no code: taken as 0
    EXPECT_EQ(lines.at(1).keys(), QStringList{QStringLiteral("threads")});
    EXPECT_EQ(lines.at(6).keys(), QStringList{QStringLiteral("storage")});

    ASSERT_EQ(port.replies.size(), 4u);
    EXPECT_EQ(port.replies[0], pythonReply(0x1513, 0x2207, 2405, 0));
    EXPECT_EQ(port.replies[1], pythonReply(0x1513, 0x2207, 2406, 0));
    EXPECT_EQ(port.replies[2], pythonReply(0x12, 0x2307, 2407, 0));
    EXPECT_EQ(port.replies[3], pythonReply(0x12, 0x2407, 2408, 5)); // task mismatch: failure
    // Unregistering put the previous port back and cleared what was left of the mask.
    EXPECT_EQ(port.setMasks.at(0), 0x02u);
    EXPECT_EQ(port.setMasks.at(1), 0x4Cu);
    const QByteArray text = log.text();
    EXPECT_TRUE(text.contains("Mach exception: 0x3, count: 0, code: 0xffffffffffffffff 0xffffffffffffffff\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("Mach exception task mis-match, returning failure\n"));
    EXPECT_TRUE(text.contains("Mach exception server thread exiting\n"));
}

TEST(MachException, shortRequestsAreRefusedAndCodeCountsAreBounded)
{
    std::vector<std::uint8_t> request = machRequest(0x12, 1, 1, 2, 3, 1, {5, 6});
    BBXMachExceptionRequest parsed;
    EXPECT_FALSE(BBXMachExceptionParseRequest(request.data(), request.size() - 1, &parsed));
    const std::uint32_t many = 900;
    std::memcpy(request.data() + 64, &many, 4);
    ASSERT_TRUE(BBXMachExceptionParseRequest(request.data(), request.size(), &parsed));
    EXPECT_EQ(parsed.codeCount, 2u);
    EXPECT_EQ(parsed.codes[1], 6);
    EXPECT_EQ(parsed.thread, 2u);
    EXPECT_EQ(parsed.task, 3u);
    // The reply's identifier wraps as the 32-bit field does.
    const std::int32_t largest = 0x7fffffff;
    std::memcpy(request.data() + 20, &largest, 4);
    ASSERT_TRUE(BBXMachExceptionParseRequest(request.data(), request.size(), &parsed));
    std::uint8_t reply[BBXMachExceptionReplySize];
    BBXMachExceptionBuildReply(&parsed, 0, reply);
    std::uint32_t identifier = 0;
    std::memcpy(&identifier, reply + 20, 4);
    EXPECT_EQ(identifier, 0x80000063u);
}

} // namespace
} // namespace corvex::test
