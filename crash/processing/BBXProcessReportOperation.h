#pragma once

#include "crash/processing/BBXStackFrame.h"
#include "platform/core/Operation.h"

#include <QString>
#include <memory>

namespace corvex {

class BBXInternalReport;
class BBXSymbolResolver;

// Symbolicates one report in place: each crash file's threads are named and written beside
// it as "<file>.symbolicated". Run synchronously with start() by the reports controller.
class BBXProcessReportOperation : public Operation
{
public:
    enum class Scope
    {
        EveryCrashFile,
        // Only crash files without a symbolicated record holding anything: a report taken up
        // again after a launch that could not finish it (a full disk) gets its names then.
        MissingRecords,
    };

    BBXProcessReportOperation(std::shared_ptr<BBXInternalReport> report,
                              std::shared_ptr<BBXSymbolResolver> resolver,
                              Scope scope = Scope::EveryCrashFile);
    void main() override;

    const std::shared_ptr<BBXInternalReport>& report() const { return mReport; }
    QString binaryImagePath() const;
    // The first "threads" value of the file as frames; nothing when the file holds none.
    // Frame 0 of each thread of a signal or exception-port record is where the thread was
    // stopped (an exact address); every other frame is a return address.
    static std::shared_ptr<BBXThreadArray> threadArrayFromFile(const QString& path);
    bool symbolicateFile(const QString& path, const std::shared_ptr<BBXSymbolResolver>& resolver);

private:
    std::shared_ptr<BBXInternalReport> mReport;
    std::shared_ptr<BBXSymbolResolver> mResolver;
    Scope mScope = Scope::EveryCrashFile;
};

} // namespace corvex
