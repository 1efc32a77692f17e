#include "crash/processing/BBXSerializeSymbolicatedFramesOperation.h"

#include "crash/runtime/BBXFile.h"
#include "platform/core/Log.h"

#include <QFile>

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
    BBXFile file;
    const QByteArray path = QFile::encodeName(mOutputPath);
    if (!BBXFileInitWithPathMode(&file, path.constData(), false, true)) {
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
    BBXFileClose(&file);
}

} // namespace corvex
