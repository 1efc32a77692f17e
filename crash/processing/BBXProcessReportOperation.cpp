#include "crash/processing/BBXProcessReportOperation.h"

#include "crash/BBXInternalReport.h"
#include "crash/processing/BBXDemangleOperation.h"
#include "crash/processing/BBXSerializeSymbolicatedFramesOperation.h"
#include "crash/processing/BBXSymbolResolver.h"
#include "crash/processing/BBXSymbolicationOperation.h"
#include "crash/runtime/BBXFileReader.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sys/stat.h>

namespace corvex {

namespace {

// A symbolicated record that is a regular file holding something; an empty one is what a
// full disk leaves of a record written in place.
bool hasSymbolicatedRecord(const QString& crashFile)
{
    struct stat info;
    const QByteArray path = QFile::encodeName(crashFile + QStringLiteral(".symbolicated"));
    return ::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

} // namespace

BBXProcessReportOperation::BBXProcessReportOperation(std::shared_ptr<BBXInternalReport> report,
                                                     std::shared_ptr<BBXSymbolResolver> resolver, Scope scope)
    : mReport(std::move(report)), mResolver(std::move(resolver)), mScope(scope)
{}

QString BBXProcessReportOperation::binaryImagePath() const
{
    return mReport ? mReport->binaryImagePath() : QString();
}

void BBXProcessReportOperation::main()
{
    if (!mReport || !mResolver)
        return;
    QStringList crashFiles;
    mReport->enumerateSymbolicatableFilesInContent([&](const QString& path) {
        if (mScope == Scope::EveryCrashFile || (QFileInfo::exists(path) && !hasSymbolicatedRecord(path)))
            crashFiles.push_back(path);
    });
    if (crashFiles.isEmpty() || !mResolver->loadBinaryImagesFromFile(binaryImagePath()))
        return;
    for (const QString& path : crashFiles)
        symbolicateFile(path, mResolver);
}

std::shared_ptr<BBXThreadArray> BBXProcessReportOperation::threadArrayFromFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return nullptr;
    const std::optional<ValueArray> sections =
        BBXFileReadSections(path, false, [](const Value& section) -> std::optional<Value> {
            if (!section.isDictionary() || !section.value(QStringLiteral("threads")).isArray())
                return std::nullopt;
            return section.value(QStringLiteral("threads"));
        });
    if (!sections || sections->empty())
        return nullptr;
    const QString name = QFileInfo(path).fileName();
    const bool exactFirstFrame =
        name == BBXInternalReport::SignalFile || name == BBXInternalReport::MachExceptionFile;
    auto threads = std::make_shared<BBXThreadArray>();
    for (const Value& thread : sections->front().toArray()) {
        BBXThread frames;
        const Value& stack = thread.isDictionary() ? thread.value(QStringLiteral("stacktrace")) : Value();
        if (stack.isArray()) {
            for (const Value& address : stack.toArray()) {
                BBXStackFrame frame = BBXStackFrame::stackFrameWithAddress(
                    address.isNumber() ? std::uint64_t(address.toInteger()) : 0);
                frame.exactAddress = exactFirstFrame && frames.empty();
                frames.push_back(frame);
            }
        }
        threads->push_back(std::move(frames));
    }
    return threads;
}

bool BBXProcessReportOperation::symbolicateFile(const QString& path,
                                                const std::shared_ptr<BBXSymbolResolver>& resolver)
{
    std::shared_ptr<BBXThreadArray> threads = threadArrayFromFile(path);
    if (!threads)
        return false;
    std::make_shared<BBXSymbolicationOperation>(threads, resolver)->start();
    std::make_shared<BBXDemangleOperation>(threads)->start();
    std::make_shared<BBXSerializeSymbolicatedFramesOperation>(threads, path + QStringLiteral(".symbolicated"))
        ->start();
    return true;
}

} // namespace corvex
