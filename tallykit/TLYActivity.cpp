#include "tallykit/TLYActivity.h"

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"

namespace corvex {

std::shared_ptr<TLYActivity> TLYActivity::beginActivity(const QString& reason, quint64 options)
{
    if (options & SuddenTerminationDisabled)
        ProcessActivity::disableSuddenTermination();
    if (options & AutomaticTerminationDisabled)
        ProcessActivity::disableAutomaticTermination(reason);
    return std::make_shared<TLYActivity>(ProcessActivity::beginActivity(options, reason), options, reason);
}

void TLYActivity::performActivity(const QString& reason, quint64 options, const std::function<void()>& block)
{
    const std::shared_ptr<TLYActivity> activity = beginActivity(reason, options);
    if (block)
        block();
    activity->end();
}

TLYActivity::TLYActivity(ProcessActivity::Token token, quint64 options, QString reason)
    : mToken(token), mOptions(options), mReason(std::move(reason))
{}

TLYActivity::~TLYActivity()
{
    end();
}

void TLYActivity::end()
{
    std::optional<ProcessActivity::Token> token;
    {
        std::lock_guard lock(mMutex);
        token = std::exchange(mToken, std::nullopt);
    }
    if (!token)
        return;
    if (mOptions & SuddenTerminationDisabled)
        ProcessActivity::enableSuddenTermination();
    if (mOptions & AutomaticTerminationDisabled)
        ProcessActivity::enableAutomaticTermination(mReason);
    ProcessActivity::endActivity(*token);
}

bool TLYActivity::isOpen() const
{
    std::lock_guard lock(mMutex);
    return mToken.has_value();
}

std::shared_ptr<TLYActivityOperation>
TLYActivityOperation::operationByStartingActivityName(const QString& name, quint64 options)
{
    auto operation = std::make_shared<TLYActivityOperation>();
    operation->mActivity = TLYActivity::beginActivity(name, options);
    return operation;
}

void TLYActivityOperation::main()
{
    if (mActivity)
        mActivity->end();
}

TLYApplication TLYApplication::hostApplication()
{
    return TLYApplication(Bundle::mainBundle().infoDictionary());
}

QString TLYApplication::bundleIdentifier() const
{
    return mInfo.value(QStringLiteral("CFBundleIdentifier")).toString();
}

QString TLYApplication::bundleVersion() const
{
    return mInfo.value(QStringLiteral("CFBundleVersion")).toString();
}

QString TLYApplication::shortVersionString() const
{
    return mInfo.value(QStringLiteral("CFBundleShortVersionString")).toString();
}

std::optional<QVariantMap> TLYApplication::extensionDefinitionDictionary() const
{
    const QVariant entry = mInfo.value(QStringLiteral("NSExtension"));
    if (!entry.isValid())
        return std::nullopt;
    if (entry.typeId() == QMetaType::QVariantMap)
        return entry.toMap();
    Log::warning(
        QStringLiteral("Error: NSExtension Info.plist entry is mal-formed %1\n").arg(entry.toString()));
    return std::nullopt;
}

std::optional<QString> TLYApplication::extensionPointIdentifier() const
{
    const std::optional<QVariantMap> extension = extensionDefinitionDictionary();
    if (!extension)
        return std::nullopt;
    const QVariant point = extension->value(QStringLiteral("NSExtensionPointIdentifier"));
    if (point.typeId() == QMetaType::QString)
        return point.toString();
    Log::warning(QStringLiteral("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n"));
    return std::nullopt;
}

} // namespace corvex
