#include "platform/core/CompletionCheck.h"

#include "platform/core/Log.h"

#include <mutex>
#include <set>
#include <tuple>

namespace corvex {
namespace {

struct Checks
{
    std::mutex mutex;
    CompletionCheck::Reporter reporter;
    // Places already logged, so that a fault in a loop does not flood the log.
    std::set<std::tuple<int, std::string, unsigned>> told;
};

Checks& checks()
{
    // Never destroyed: completions let go by statics at exit still report here.
    static Checks* instance = new Checks;
    return *instance;
}

} // namespace

void CompletionCheck::report(CompletionFault fault, const SourceLocation& made)
{
    Checks& all = checks();
    Reporter reporter;
    {
        std::lock_guard lock(all.mutex);
        reporter = all.reporter;
        if (!reporter && !all.told.emplace(int(fault), made.file_name(), made.line()).second)
            return;
    }
    if (reporter) {
        reporter(fault, made);
        return;
    }
    if (fault == CompletionFault::AnsweredTwice)
        Log::error(describe(fault, made));
    else
        Log::info(describe(fault, made));
}

CompletionCheck::Reporter CompletionCheck::setReporter(Reporter reporter)
{
    Checks& all = checks();
    std::lock_guard lock(all.mutex);
    return std::exchange(all.reporter, std::move(reporter));
}

QString CompletionCheck::describe(CompletionFault fault, const SourceLocation& made)
{
    const QString what = fault == CompletionFault::AnsweredTwice ? QStringLiteral("was answered twice")
                                                                 : QStringLiteral("was let go unanswered");
    return QStringLiteral("completion made at %1:%2 (%3) %4")
        .arg(QString::fromUtf8(made.file_name()))
        .arg(made.line())
        .arg(QString::fromUtf8(made.function_name()), what);
}

} // namespace corvex
