#pragma once

#include "crash/processing/BBXThreadArrayOperation.h"

namespace corvex {

class BBXSymbolResolver;

// Names every frame through the resolver; a frame it cannot name keeps only its address.
class BBXSymbolicationOperation : public BBXThreadArrayOperation
{
public:
    BBXSymbolicationOperation(std::shared_ptr<BBXThreadArray> threads,
                              std::shared_ptr<BBXSymbolResolver> resolver)
        : BBXThreadArrayOperation(std::move(threads)), mResolver(std::move(resolver))
    {}
    void main() override;

private:
    std::shared_ptr<BBXSymbolResolver> mResolver;
};

} // namespace corvex
