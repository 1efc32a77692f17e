#pragma once

// Ordinary code, never run at crash time: facts of the application, process activities,
// delayed dispatch, profiling marks and symbol lookup through the dynamic linker.

#include <QCoreApplication>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>

namespace corvex {

class OperationQueue;
class SerialQueue;

// The information dictionary's "NSExtension" / "NSExtensionPointIdentifier" (a malformed
// entry is logged and answers a null string). Corvex is never an extension.
QString BBXApplicationExtensionPointIdentifier();
bool BBXApplicationIsExtension();
// The application object, nullptr before one exists.
QCoreApplication* BBXApplicationSharedApplication();

// Activity options that matter here.
constexpr std::uint64_t BBXActivitySuddenTerminationDisabled = 0x4000;
constexpr std::uint64_t BBXActivityAutomaticTerminationDisabled = 0x8000;

// Linux has no process activities: an activity is recorded as its token, {"options",
// "reason"}, and counted while it lasts (nothing else is held back on this platform).
QVariantMap BBXApplicationBeginActivity(std::uint64_t options, const QString& reason);
void BBXApplicationEndActivity(const QVariantMap& token);
void BBXApplicationActivity(std::uint64_t options, const QString& reason, const std::function<void()>& block);
// Activities begun and not yet ended that disable sudden, or automatic, termination.
int BBXApplicationSuddenTerminationDisableCount();
int BBXApplicationAutomaticTerminationDisableCount();

// The block on the queue once `seconds` have passed on the media clock.
void BBXDispatchAfterSeconds(SerialQueue& queue, double seconds, std::function<void()> block);
// After the delay, from the default global queue, adds the block to the operation queue as an
// operation; nothing happens when the queue is gone by then.
void BBXAddOperationAfterDelay(const std::weak_ptr<OperationQueue>& queue, std::function<void()> block,
                               double seconds);

// Profiling marks on the media clock (nanoseconds; the timebase is 1/1).
std::uint64_t BBXProfileMarkStart();
double BBXProfileEnd(std::uint64_t mark);

// The block gets the symbol's name and the image's path ("unknown" for either the dynamic
// linker leaves out), both null when no image holds the address.
void BBXDladdrSymbolLookup(std::uint64_t address,
                           const std::function<void(const char* symbol, const char* path)>& block);

} // namespace corvex
