#include "crash/beta/BBXBetaController.h"

#include "crash/BBXReportsController.h"
#include "kit/core/LOMSettingsOnboardingManager.h"
#include "kit/core/Loom.h"
#include "kit/net/LOMCertificatePinner.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMURLBuilder.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"

namespace corvex {

BBXBetaControllerDelegate::~BBXBetaControllerDelegate() = default;

namespace {

bool betaDebug()
{
    return Loom::sharedSDK().debug();
}

} // namespace

std::shared_ptr<BBXBetaController>
BBXBetaController::create(std::weak_ptr<BBXBetaControllerDelegate> delegate, TokenSource tokenSource)
{
    std::shared_ptr<BBXBetaController> controller(new BBXBetaController());
    controller->mDelegate = std::move(delegate);
    controller->mTokenSource = std::move(tokenSource);
    controller->mQueue = std::make_unique<SerialQueue>("com.loomworks.blackbox.mac.beta");
    return controller;
}

BBXBetaController::~BBXBetaController()
{
    if (mObserver)
        NotificationCenter::defaultCenter().removeObserver(mObserver);
}

bool BBXBetaController::isBetaSupported()
{
    return LOMInstallSource() == 3;
}

std::optional<QString> BBXBetaController::betaToken()
{
    std::call_once(mTokenOnce, [this] { mToken = mTokenSource ? mTokenSource() : std::nullopt; });
    return mToken;
}

bool BBXBetaController::start()
{
    if (!betaToken())
        return false;
    std::weak_ptr<BBXBetaController> weak = weak_from_this();
    mObserver = NotificationCenter::defaultCenter().addObserver(
        LOMSettingsOnboardingManager::SettingsAvailableNotification, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (auto self = weak.lock())
                self->checkForUpdate();
        });
    return true;
}

void BBXBetaController::setSessionConfiguration(std::shared_ptr<BBXURLSessionConfiguration> configuration)
{
    std::lock_guard lock(mMutex);
    mConfiguration = std::move(configuration);
    mClient.reset();
}

BBXSettings BBXBetaController::settings()
{
    auto delegate = mDelegate.lock();
    return delegate ? delegate->settingsForBetaController() : BBXSettings(Value(), QVariantMap());
}

bool BBXBetaController::checksSuspended() const
{
    std::lock_guard lock(mMutex);
    return mSuspended;
}

std::optional<BBXBetaUpdate> BBXBetaController::activeUpdate() const
{
    std::lock_guard lock(mMutex);
    return mActiveUpdate;
}

bool BBXBetaController::shouldGetUpdates() const
{
    return isBetaSupported() && !checksSuspended();
}

void BBXBetaController::checkForUpdate()
{
    std::weak_ptr<BBXBetaController> weak = weak_from_this();
    mQueue->async([weak] {
        auto self = weak.lock();
        if (!self || !self->shouldGetUpdates())
            return;
        {
            std::lock_guard lock(self->mMutex);
            if (self->mRetrying)
                return;
            self->mRetrying = true;
        }
        if (betaDebug())
            Log::info(QStringLiteral("[Blackbox:Beta] Loading beta update"));
        self->loadUpdate();
    });
}

QString BBXBetaController::betaUpdateURL()
{
    LOMURLBuilder builder = LOMURLBuilder::URLWithBase(settings().betaEndpoint());
    builder.appendComponent(QStringLiteral("/spi/v2/platforms/"));
    builder.appendComponent(QStringLiteral("mac"));
    builder.appendComponent(QStringLiteral("/apps/"));
    builder.escapeAndAppendComponent(LOMEscapedBundleIdentifier());
    builder.appendComponent(QStringLiteral("/beta_update_check"));
    builder.appendValue(LOMBundleVersion(), QStringLiteral("build_version"));
    builder.appendValue(LOMBundleShortVersionString(), QStringLiteral("display_version"));
    builder.appendValue(Loom::sharedSDK().instanceIdentifier(), QStringLiteral("instance"));
    builder.appendValue(LOMInstallSource(), QStringLiteral("source"));
    return builder.URLString();
}

HttpRequest BBXBetaController::updateRequest()
{
    const QString url = betaUpdateURL();
    if (betaDebug())
        Log::info(QStringLiteral("[Blackbox:Beta] Beta Update-Check url string: '%1'").arg(url));
    HttpRequest request = HttpRequest::get(LOMURLBuilder::URLWithBase(url).URL().value_or(QUrl()));
    request.overallTimeout = 10.0;
    const QByteArray locale = LOMHostLocaleIdentifier().toUtf8();
    auto delegate = mDelegate.lock();
    request.headers.set("User-Agent", BBXReportsController::UserAgent.toUtf8());
    request.headers.set("Accept", "application/json");
    request.headers.set("Accept-Charset", "utf-8");
    request.headers.set("Accept-Language", locale);
    request.headers.set("Content-Language", locale);
    request.headers.set("X-Blackbox-Developer-Token", BBXReportsController::DeveloperToken.toUtf8());
    request.headers.set("X-Blackbox-API-Client-Id", "com.loomworks.blackbox.mac");
    request.headers.set("X-Blackbox-API-Client-Display-Version", "3.8.5");
    request.headers.set("X-Blackbox-API-Client-Build-Version", "123");
    request.headers.set("X-Blackbox-API-Key",
                        (delegate ? delegate->APIKeyForBetaController() : QString()).toUtf8());
    request.headers.set("X-Blackbox-Beta-Token", betaToken().value_or(QString()).toUtf8());
    return request;
}

void BBXBetaController::loadUpdate()
{
    std::shared_ptr<LOMNetworkClient> client;
    {
        std::lock_guard lock(mMutex);
        if (!mClient)
            mClient = LOMNetworkClient::create(nullptr, LOMPinnedCertificates(), mConfiguration,
                                               [] { return Loom::sharedSDK().debug(); });
        client = mClient;
    }
    if (!client) {
        if (betaDebug())
            Log::info(QStringLiteral("[Blackbox:Beta] Failed to configure networking"));
        return;
    }
    std::weak_ptr<BBXBetaController> weak = weak_from_this();
    // The answer only queues work on the beta queue: it needs no main loop.
    client->startDataTask(
        updateRequest(), 10,
        LOMNetworkClient::DataCompletion(CompletionQueue::global(),
                                         [weak](const std::optional<QByteArray>& data,
                                                const std::optional<HttpResponse>&, const Error& error) {
                                             if (auto self = weak.lock())
                                                 self->handleCompletedBetaRequest(data, error);
                                         }));
}

void BBXBetaController::handleCompletedBetaRequest(const std::optional<QByteArray>& data, const Error& error)
{
    if (error || !data || data->isEmpty()) {
        // The in-flight mark stays: no later check starts in this run.
        if (betaDebug())
            Log::info(QStringLiteral("[Blackbox:Beta] Failed to load update '%1'").arg(error.toString()));
        return;
    }
    std::weak_ptr<BBXBetaController> weak = weak_from_this();
    const QByteArray bytes = *data;
    mQueue->async([weak, bytes] {
        auto self = weak.lock();
        if (!self)
            return;
        if (betaDebug())
            Log::info(QStringLiteral("[Blackbox:Beta] Beta update loaded"));
        self->temporarilySuspendChecks();
        {
            std::lock_guard lock(self->mMutex);
            self->mRetrying = false;
        }
        Error parseError;
        std::optional<BBXBetaUpdate> update = BBXBetaUpdate::updateWithData(bytes, &parseError);
        if (!update) {
            if (betaDebug())
                Log::info(QStringLiteral("[Blackbox:Beta] Unable to read beta update data: %1")
                              .arg(parseError.toString()));
            return;
        }
        MainQueue::post([weak, update] {
            if (auto strong = weak.lock()) {
                std::lock_guard lock(strong->mMutex);
                strong->mActiveUpdate = update;
            }
        });
    });
}

void BBXBetaController::temporarilySuspendChecks()
{
    const double duration = settings().betaSuspendDuration();
    std::weak_ptr<BBXBetaController> weak = weak_from_this();
    MainQueue::post([weak, duration] {
        auto self = weak.lock();
        if (!self || duration <= 0)
            return;
        std::lock_guard lock(self->mMutex);
        self->mSuspended = true;
        MainQueue::cancel(self->mSuspension);
        self->mSuspension = MainQueue::postAfter(duration, [weak] {
            if (auto strong = weak.lock())
                strong->allowChecks();
        });
    });
}

void BBXBetaController::allowChecks()
{
    std::lock_guard lock(mMutex);
    mSuspended = false;
    mSuspension = 0;
}

} // namespace corvex
