#include "crash/processing/BBXDemangleOperation.h"

#include <QByteArray>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h> // abi::__cxa_demangle

namespace corvex {

void BBXDemangleOperation::main()
{
    enumerateFramesWithBlock([](BBXStackFrame& frame) {
        if (!frame.rawSymbol)
            return;
        const QByteArray raw = frame.rawSymbol->toUtf8();
        if (std::optional<QString> demangled = demangleSymbol(raw.constData()))
            frame.symbol = demangled;
    });
}

std::optional<QString> BBXDemangleOperation::demangleSymbol(const char* name)
{
    if (name == nullptr)
        return std::nullopt;
    if (std::strncmp(name, "_Z", 2) == 0)
        return demangleCppSymbol(name);
    if (std::strncmp(name, "__Z", 3) == 0)
        return demangleBlockInvokeCppSymbol(name);
    return std::nullopt;
}

std::optional<QString> BBXDemangleOperation::demangleCppSymbol(const char* name)
{
    int status = 0;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (demangled == nullptr || status != 0) {
        std::free(demangled);
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(demangled);
    std::free(demangled);
    return text;
}

std::optional<QString> BBXDemangleOperation::demangleBlockInvokeCppSymbol(const char* name)
{
    const QByteArray whole(name);
    const qsizetype suffix = whole.lastIndexOf("_block_invoke");
    if (suffix < 5)
        return std::nullopt;
    const QByteArray function = whole.mid(1, suffix - 1);
    const std::optional<QString> demangled = demangleCppSymbol(function.constData());
    if (!demangled)
        return std::nullopt;
    return *demangled + QString::fromUtf8(whole.mid(suffix));
}

} // namespace corvex
