#include "crash/processing/BBXSerializeSymbolicatedFramesOperation.h"

#include "crash/processing/BBXReportFileWriter.h"
#include "crash/runtime/BBXFile.h"
#include "platform/core/Log.h"

#include <QByteArray>
#include <array>
#include <cerrno>
#include <sys/mman.h> // memfd_create
#include <unistd.h>

namespace corvex {

namespace {

void writeText(BBXFile* file, const char* key, const std::optional<QString>& text)
{
    if (!text) {
        BBXFileWriteHashEntryString(file, key, nullptr);
        return;
    }
    const QByteArray utf8 = text->toUtf8();
    BBXFileWriteHashEntryNSString(file, key, utf8.constData(), std::size_t(utf8.size()));
}

} // namespace

void BBXSerializeSymbolicatedFramesOperation::main()
{
    // The record writer writes to a descriptor; the record is made in memory and then saved
    // whole, so a full disk leaves no empty or cut record for the package to take.
    const int memory = ::memfd_create("symbolicated", MFD_CLOEXEC);
    std::array<char, BBXFileBufferSize> buffer{};
    BBXFile file;
    file.fd = memory >= 0 ? ::dup(memory) : -1;
    file.buffered = true;
    file.buffer = buffer.data();
    if (file.fd < 0) {
        if (memory >= 0)
            ::close(memory);
        Log::error(QStringLiteral("[Blackbox:Crash:Symbolication] Failed to create output file"));
        return;
    }
    BBXFileWriteSectionStart(&file, "threads");
    BBXFileWriteArrayStart(&file);
    if (threadArray()) {
        for (const BBXThread& thread : *threadArray()) {
            BBXFileWriteArrayStart(&file);
            for (const BBXStackFrame& frame : thread) {
                BBXFileWriteHashStart(&file);
                writeText(&file, "symbol", frame.symbol);
                if (frame.rawSymbol != frame.symbol || !frame.rawSymbol)
                    writeText(&file, "raw_symbol", frame.rawSymbol);
                BBXFileWriteHashEntryUint64(&file, "offset", frame.offset);
                writeText(&file, "library", frame.library);
                BBXFileWriteHashEnd(&file);
            }
            BBXFileWriteArrayEnd(&file);
        }
    }
    BBXFileWriteArrayEnd(&file);
    BBXFileWriteSectionEnd(&file);
    std::uint64_t length = 0;
    const bool closed = BBXFileCloseWithOffset(&file, &length);
    QByteArray record(qsizetype(length), Qt::Uninitialized);
    const bool read = closed && ::pread(memory, record.data(), std::size_t(length), 0) == ssize_t(length);
    ::close(memory);
    const Status saved =
        read ? BBXReportFileWriter::write(mOutputPath, record)
             : Status(Error::posix(EIO, QStringLiteral("Cannot make the symbolicated record"), mOutputPath));
    if (!saved.ok())
        Log::error(QStringLiteral("[Blackbox:Crash:Symbolication] Failed to create output file: %1")
                       .arg(saved.error().toString()));
}

} // namespace corvex
