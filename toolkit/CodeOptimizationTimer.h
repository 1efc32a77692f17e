#pragma once

#include <QString>
#include <memory>

namespace corvex {

// A stopwatch for timing measurements, switched off: create() answers nullptr, so every
// user holds null and its measurements yield 0 through the null-safe lapOf()/totalOf().
class CodeOptimizationTimer
{
public:
    // Returns nullptr (the stopwatch is switched off); the label would only name the run.
    static std::unique_ptr<CodeOptimizationTimer> create();
    static std::unique_ptr<CodeOptimizationTimer> create(const QString& label);

    // Media seconds since the previous lap (or the creation), which becomes the new lap mark.
    // The label is not stored or used.
    double lap(const QString& label);
    // Media seconds since the creation.
    double total(const QString& label) const;

    // The measurements of a timer that may be null (always, while switched off): 0 for null.
    static double lapOf(CodeOptimizationTimer* timer, const QString& label);
    static double totalOf(const CodeOptimizationTimer* timer, const QString& label);

private:
    CodeOptimizationTimer();

    double mInitialTime;
    double mCurrentTime;
};

} // namespace corvex
