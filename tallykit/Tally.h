#pragma once

#include "kit/core/LOMKit.h"
#include "platform/core/Value.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

class Loom;
class TLYEvent;
class TLYTallyController;

// Usage analytics as the kit registry and its callers see it: the kit's identity, the
// one-time start that makes the controller, and the class methods that record events.
// Events logged before the start are dropped without a word.
class Tally
{
public:
    static const QString BundleIdentifier;  // "com.loomworks.tally.mac"
    static const QString KitDisplayVersion; // "1.3.5"
    static const QString KitBuildVersion;   // "28"

    static Tally& sharedInstance();
    // Registers the kit class "Tally" with the kit registry (once; the application calls it
    // before starting the kit).
    static void registerKitClass();

    // When a kit class "Blackbox" is registered, its start (which starts analytics itself);
    // otherwise a start without a beta token.
    static void initializeIfNeeded();
    static void startWithBetaToken(const std::optional<QString>& betaToken);

    static void logCustomEventWithName(const std::optional<QString>& name, const Value& customAttributes);
    static void logPreviousSessionCrashedOnDate(const std::optional<QDateTime>& date);
    static void logSignUpWithMethod(const Value& method, const Value& success, const Value& customAttributes);
    static void logLoginWithMethod(const Value& method, const Value& success, const Value& customAttributes);
    static void logShareWithMethod(const Value& method, const Value& contentName, const Value& contentType,
                                   const Value& contentId, const Value& customAttributes);
    static void logInviteWithMethod(const Value& method, const Value& customAttributes);
    static void logPurchaseWithPrice(const Value& price, const Value& currency, const Value& success,
                                     const Value& itemName, const Value& itemType, const Value& itemId,
                                     const Value& customAttributes);
    static void logLevelStart(const Value& levelName, const Value& customAttributes);
    static void logLevelEnd(const Value& levelName, const Value& score, const Value& success,
                            const Value& customAttributes);
    static void logAddToCartWithPrice(const Value& price, const Value& currency, const Value& itemName,
                                      const Value& itemType, const Value& itemId,
                                      const Value& customAttributes);
    static void logStartCheckoutWithPrice(const Value& price, const Value& currency, const Value& itemCount,
                                          const Value& customAttributes);
    static void logRating(const Value& rating, const Value& contentName, const Value& contentType,
                          const Value& contentId, const Value& customAttributes);
    static void logContentViewWithName(const Value& contentName, const Value& contentType,
                                       const Value& contentId, const Value& customAttributes);
    static void logSearchWithQuery(const Value& query, const Value& customAttributes);

    // Runs once per process; later calls change nothing.
    void start(const std::optional<QString>& betaToken);
    std::shared_ptr<TLYTallyController> tallyController() const;

    // Where the start looks: the shared registry and the standard root unless set before
    // the start (helper processes point it at a registry of their own).
    void setStartEnvironment(Loom* loom, std::optional<QString> rootDirectory);

private:
    Tally() = default;
    static void hand(std::shared_ptr<TLYEvent> event);

    mutable std::mutex mMutex;
    std::once_flag mStarted;
    std::shared_ptr<TLYTallyController> mController;
    Loom* mLoom = nullptr;
    std::optional<QString> mRoot;
};

// A second, dormant kit of the subsystem: registered only when "AdsMobileSDK" exists,
// which it never does here.
class AdsKit
{
public:
    static const QString BundleIdentifier;  // "com.example.adskit.ios"
    static const QString KitDisplayVersion; // "0.0.0"
    static AdsKit& sharedInstance();

private:
    AdsKit() = default;
};

} // namespace corvex
