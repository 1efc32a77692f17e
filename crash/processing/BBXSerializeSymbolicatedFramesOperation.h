#pragma once

#include "crash/processing/BBXThreadArrayOperation.h"

#include <QString>

namespace corvex {

// Writes the named frames beside their crash file as one "threads" line: per frame
// "symbol", "raw_symbol" (left out when equal to the symbol), "offset" and "library".
class BBXSerializeSymbolicatedFramesOperation : public BBXThreadArrayOperation
{
public:
    BBXSerializeSymbolicatedFramesOperation(std::shared_ptr<BBXThreadArray> threads, QString outputPath)
        : BBXThreadArrayOperation(std::move(threads)), mOutputPath(std::move(outputPath))
    {}
    void main() override;
    const QString& outputPath() const { return mOutputPath; }

private:
    QString mOutputPath;
};

} // namespace corvex
