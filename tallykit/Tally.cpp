#include "tallykit/Tally.h"

#include "kit/core/Loom.h"
#include "tallykit/TLYEvent.h"
#include "tallykit/TLYLogger.h"
#include "tallykit/TLYTallyController.h"

namespace corvex {

namespace {

class TallyKitClass final : public LOMKitClass
{
public:
    QString className() const override { return QStringLiteral("Tally"); }
    QString bundleIdentifier() const override { return Tally::BundleIdentifier; }
    QString kitDisplayVersion() const override { return Tally::KitDisplayVersion; }
    std::optional<QString> kitBuildVersion() const override { return Tally::KitBuildVersion; }
    bool answersInitializeIfNeeded() const override { return true; }
    void initializeIfNeeded() override { Tally::initializeIfNeeded(); }
};

} // namespace

const QString Tally::BundleIdentifier = QStringLiteral("com.loomworks.tally.mac");
const QString Tally::KitDisplayVersion = QStringLiteral("1.3.5");
const QString Tally::KitBuildVersion = QStringLiteral("28");
const QString AdsKit::BundleIdentifier = QStringLiteral("com.example.adskit.ios");
const QString AdsKit::KitDisplayVersion = QStringLiteral("0.0.0");

Tally& Tally::sharedInstance()
{
    static Tally* const shared = new Tally; // lives as long as the process
    return *shared;
}

AdsKit& AdsKit::sharedInstance()
{
    static AdsKit* const shared = new AdsKit;
    return *shared;
}

void Tally::registerKitClass()
{
    static TallyKitClass* const kitClass = [] {
        auto* made = new TallyKitClass; // registered objects outlive their registration
        LOMKitClassRegistry::registerClass(made);
        return made;
    }();
    Q_UNUSED(kitClass);
}

void Tally::initializeIfNeeded()
{
    LOMKitClass* blackbox = LOMKitClassRegistry::classNamed(QStringLiteral("Blackbox"));
    if (blackbox != nullptr && blackbox->conformsToLOMKit()) {
        // The crash reporter's start starts analytics with its beta token.
        if (blackbox->answersInitializeIfNeeded())
            blackbox->initializeIfNeeded();
        return;
    }
    startWithBetaToken(std::nullopt);
}

void Tally::startWithBetaToken(const std::optional<QString>& betaToken)
{
    sharedInstance().start(betaToken);
}

void Tally::setStartEnvironment(Loom* loom, std::optional<QString> rootDirectory)
{
    std::lock_guard lock(mMutex);
    mLoom = loom;
    mRoot = std::move(rootDirectory);
}

void Tally::start(const std::optional<QString>& betaToken)
{
    std::call_once(mStarted, [&] {
        Loom* loom = nullptr;
        std::optional<QString> root;
        {
            std::lock_guard lock(mMutex);
            loom = mLoom;
            root = mRoot;
        }
        Loom& registry = loom != nullptr ? *loom : Loom::sharedSDK();
        TLYLogger::sharedLogger().setDebugMode(registry.debug());
        TLYLogger::sharedLogger().log(QStringLiteral("Initialized"));
        std::shared_ptr<TLYTallyController> controller = TLYTallyController::create(
            betaToken, registry, root.value_or(TLYTallyController::rootDirectory()));
        std::lock_guard lock(mMutex);
        mController = std::move(controller);
    });
}

std::shared_ptr<TLYTallyController> Tally::tallyController() const
{
    std::lock_guard lock(mMutex);
    return mController;
}

void Tally::hand(std::shared_ptr<TLYEvent> event)
{
    if (std::shared_ptr<TLYTallyController> controller = sharedInstance().tallyController())
        controller->logEvent(std::move(event));
}

void Tally::logCustomEventWithName(const std::optional<QString>& name, const Value& customAttributes)
{
    hand(std::make_shared<TLYCustomEvent>(name, customAttributes));
}

void Tally::logPreviousSessionCrashedOnDate(const std::optional<QDateTime>& date)
{
    if (!date || !date->isValid())
        return;
    if (std::shared_ptr<TLYTallyController> controller = sharedInstance().tallyController())
        controller->logCrashEvent(std::make_shared<TLYCrashEvent>(*date, 0));
}

void Tally::logSignUpWithMethod(const Value& method, const Value& success, const Value& custom)
{
    hand(TLYPredefinedEvent::signUpEvent(method, success, custom));
}

void Tally::logLoginWithMethod(const Value& method, const Value& success, const Value& custom)
{
    hand(TLYPredefinedEvent::loginEvent(method, success, custom));
}

void Tally::logShareWithMethod(const Value& method, const Value& contentName, const Value& contentType,
                               const Value& contentId, const Value& custom)
{
    hand(TLYPredefinedEvent::shareEvent(method, contentName, contentType, contentId, custom));
}

void Tally::logInviteWithMethod(const Value& method, const Value& custom)
{
    hand(TLYPredefinedEvent::inviteEvent(method, custom));
}

void Tally::logPurchaseWithPrice(const Value& price, const Value& currency, const Value& success,
                                 const Value& itemName, const Value& itemType, const Value& itemId,
                                 const Value& custom)
{
    hand(TLYPredefinedEvent::purchaseEvent(price, currency, success, itemName, itemType, itemId, custom));
}

void Tally::logLevelStart(const Value& levelName, const Value& custom)
{
    hand(TLYPredefinedEvent::levelStartEvent(levelName, custom));
}

void Tally::logLevelEnd(const Value& levelName, const Value& score, const Value& success, const Value& custom)
{
    hand(TLYPredefinedEvent::levelEndEvent(levelName, score, success, custom));
}

void Tally::logAddToCartWithPrice(const Value& price, const Value& currency, const Value& itemName,
                                  const Value& itemType, const Value& itemId, const Value& custom)
{
    hand(TLYPredefinedEvent::addToCartEvent(price, currency, itemName, itemType, itemId, custom));
}

void Tally::logStartCheckoutWithPrice(const Value& price, const Value& currency, const Value& itemCount,
                                      const Value& custom)
{
    hand(TLYPredefinedEvent::startCheckoutEvent(price, currency, itemCount, custom));
}

void Tally::logRating(const Value& rating, const Value& contentName, const Value& contentType,
                      const Value& contentId, const Value& custom)
{
    hand(TLYPredefinedEvent::ratingEvent(rating, contentName, contentType, contentId, custom));
}

void Tally::logContentViewWithName(const Value& contentName, const Value& contentType, const Value& contentId,
                                   const Value& custom)
{
    hand(TLYPredefinedEvent::contentViewEvent(contentName, contentType, contentId, custom));
}

void Tally::logSearchWithQuery(const Value& query, const Value& custom)
{
    hand(TLYPredefinedEvent::searchEvent(query, custom));
}

} // namespace corvex
