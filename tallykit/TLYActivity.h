#pragma once

#include "platform/core/Operation.h"
#include "platform/core/ProcessActivity.h"

#include <QString>
#include <QVariantMap>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

// One process activity that ends exactly once (at end() or when released).
class TLYActivity
{
public:
    static constexpr quint64 SuddenTerminationDisabled = 0x4000;
    static constexpr quint64 AutomaticTerminationDisabled = 0x8000;
    static constexpr quint64 Background = 0xFF;

    static std::shared_ptr<TLYActivity> beginActivity(const QString& reason, quint64 options);
    static void performActivity(const QString& reason, quint64 options, const std::function<void()>& block);

    TLYActivity(ProcessActivity::Token token, quint64 options, QString reason);
    ~TLYActivity();
    TLYActivity(const TLYActivity&) = delete;
    TLYActivity& operator=(const TLYActivity&) = delete;

    void end();
    bool isOpen() const;
    quint64 options() const { return mOptions; }
    const QString& reason() const { return mReason; }
    quint64 backgroundTaskIdentifier() const { return 0; }
    static bool supportsBackgroundTasks() { return false; }

private:
    mutable std::mutex mMutex;
    std::optional<ProcessActivity::Token> mToken;
    const quint64 mOptions;
    const QString mReason;
};

// Holds an activity from its creation until it runs: making it depend on other work keeps
// the activity open until that work is done.
class TLYActivityOperation : public Operation
{
public:
    static std::shared_ptr<TLYActivityOperation> operationByStartingActivityName(const QString& name,
                                                                                 quint64 options);
    void main() override;
    const std::shared_ptr<TLYActivity>& activity() const { return mActivity; }

private:
    std::shared_ptr<TLYActivity> mActivity;
};

// Facts of the host application from its information dictionary.
class TLYApplication
{
public:
    static TLYApplication hostApplication();
    explicit TLYApplication(QVariantMap infoPlistDict) : mInfo(std::move(infoPlistDict)) {}

    QString bundleIdentifier() const;
    QString bundleVersion() const;
    QString shortVersionString() const;
    std::optional<QVariantMap> extensionDefinitionDictionary() const;
    std::optional<QString> extensionPointIdentifier() const;
    bool isExtension() const { return extensionPointIdentifier().has_value(); }
    const QVariantMap& infoPlistDict() const { return mInfo; }

private:
    QVariantMap mInfo;
};

} // namespace corvex
