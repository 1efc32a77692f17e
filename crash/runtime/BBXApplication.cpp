// Ordinary code: never run at crash time.

#include "crash/runtime/BBXApplication.h"

#include "crash/runtime/BBXSDKLog.h"
#include "platform/core/Bundle.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SerialQueue.h"

#include <atomic>
#include <cmath>
#include <dlfcn.h>

namespace corvex {

namespace {

std::atomic<int> gBBXSuddenTerminationDisabled{0};
std::atomic<int> gBBXAutomaticTerminationDisabled{0};

} // namespace

QString BBXApplicationExtensionPointIdentifier()
{
    const QVariantMap& info = Bundle::mainBundle().infoDictionary();
    const QVariant extension = info.value(QStringLiteral("NSExtension"));
    if (!extension.isValid())
        return QString();
    if (extension.typeId() != QMetaType::QVariantMap) {
        BBX_LOG_WARN("Error: NSExtension Info.plist entry is mal-formed");
        return QString();
    }
    const QVariant identifier = extension.toMap().value(QStringLiteral("NSExtensionPointIdentifier"));
    if (identifier.typeId() != QMetaType::QString) {
        BBX_LOG_WARN("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed");
        return QString();
    }
    return identifier.toString();
}

bool BBXApplicationIsExtension()
{
    return !BBXApplicationExtensionPointIdentifier().isNull();
}

QCoreApplication* BBXApplicationSharedApplication()
{
    return QCoreApplication::instance();
}

QVariantMap BBXApplicationBeginActivity(std::uint64_t options, const QString& reason)
{
    if ((options & BBXActivitySuddenTerminationDisabled) != 0)
        ++gBBXSuddenTerminationDisabled;
    if ((options & BBXActivityAutomaticTerminationDisabled) != 0)
        ++gBBXAutomaticTerminationDisabled;
    return {{QStringLiteral("options"), QVariant::fromValue<qulonglong>(options)},
            {QStringLiteral("reason"), reason}};
}

void BBXApplicationEndActivity(const QVariantMap& token)
{
    const QVariant stored = token.value(QStringLiteral("options"));
    if (!stored.isValid())
        return;
    const std::uint64_t options = stored.toULongLong();
    if ((options & BBXActivitySuddenTerminationDisabled) != 0)
        --gBBXSuddenTerminationDisabled;
    if ((options & BBXActivityAutomaticTerminationDisabled) != 0)
        --gBBXAutomaticTerminationDisabled;
}

void BBXApplicationActivity(std::uint64_t options, const QString& reason, const std::function<void()>& block)
{
    const QVariantMap token = BBXApplicationBeginActivity(options, reason);
    if (block)
        block();
    BBXApplicationEndActivity(token);
}

int BBXApplicationSuddenTerminationDisableCount()
{
    return gBBXSuddenTerminationDisabled.load();
}

int BBXApplicationAutomaticTerminationDisableCount()
{
    return gBBXAutomaticTerminationDisabled.load();
}

void BBXDispatchAfterSeconds(SerialQueue& queue, double seconds, std::function<void()> block)
{
    if (block)
        queue.after(seconds, std::move(block));
}

void BBXAddOperationAfterDelay(const std::weak_ptr<OperationQueue>& queue, std::function<void()> block,
                               double seconds)
{
    if (!block)
        return;
    Scheduler::current().schedule(seconds, [queue, block = std::move(block)]() {
        GlobalQueue::async([queue, block]() {
            if (const auto target = queue.lock())
                target->addOperationWithBlock(block);
        });
    });
}

std::uint64_t BBXProfileMarkStart()
{
    return std::uint64_t(std::llround(MediaClock::now() * 1e9));
}

double BBXProfileEnd(std::uint64_t mark)
{
    const std::uint64_t now = BBXProfileMarkStart();
    return now > mark ? double(now - mark) / 1e6 : 0.0;
}

void BBXDladdrSymbolLookup(std::uint64_t address,
                           const std::function<void(const char* symbol, const char* path)>& block)
{
    if (!block)
        return;
    Dl_info info = {};
    if (::dladdr(reinterpret_cast<const void*>(address), &info) == 0) {
        block(nullptr, nullptr);
        return;
    }
    block(info.dli_sname != nullptr ? info.dli_sname : "unknown",
          info.dli_fname != nullptr ? info.dli_fname : "unknown");
}

} // namespace corvex
