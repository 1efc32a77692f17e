#pragma once

#include "platform/core/SourceLocation.h"
#include <QString>
#include <functional>

namespace corvex {

enum class CompletionFault
{
    AnsweredTwice,
    LetGoUnanswered
};

// Where a broken completion is told. Without a reporter (the application) a completion
// answered twice is logged as an error and one let go unanswered as information, each once
// for the place it was made at; the test trees install a reporter that fails the test.
class CompletionCheck
{
public:
    using Reporter = std::function<void(CompletionFault fault, const SourceLocation& made)>;

    static void report(CompletionFault fault, const SourceLocation& made);
    // Installs a reporter and answers the previous one; an empty reporter restores the log.
    static Reporter setReporter(Reporter reporter);

    // "completion made at <file>:<line> (<function>) was answered twice" and its kin.
    static QString describe(CompletionFault fault, const SourceLocation& made);
};

} // namespace corvex
