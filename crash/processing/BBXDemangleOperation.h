#pragma once

#include "crash/processing/BBXThreadArrayOperation.h"

#include <QString>
#include <optional>

namespace corvex {

// Turns every frame's mangled raw symbol into its readable name.
class BBXDemangleOperation : public BBXThreadArrayOperation
{
public:
    using BBXThreadArrayOperation::BBXThreadArrayOperation;
    void main() override;

    // "_Z..." through the runtime's demangler, "__Z..._block_invoke..." as a block of a C++
    // function; anything else, or a name the demangler refuses, gives nothing.
    static std::optional<QString> demangleSymbol(const char* name);
    static std::optional<QString> demangleCppSymbol(const char* name);
    static std::optional<QString> demangleBlockInvokeCppSymbol(const char* name);
};

} // namespace corvex
