#pragma once

#include "crash/BBXSettings.h"
#include "crash/beta/BBXBetaUpdate.h"
#include "platform/core/NotificationCenter.h"
#include "platform/net/HttpRequest.h"

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

class BBXURLSessionConfiguration;
class LOMNetworkClient;
class SerialQueue;

class BBXBetaControllerDelegate
{
public:
    virtual ~BBXBetaControllerDelegate();
    virtual QString APIKeyForBetaController() = 0;
    virtual BBXSettings settingsForBetaController() = 0;
};

// Asks the beta service, after every settings download, whether a newer test build exists,
// and keeps the answer as the active update. It starts only with a beta token (this program
// has none; tests inject one). Checks run on the serial queue "com.loomworks.blackbox.mac.beta";
// after a loaded answer they are suspended for the settings' duration on the current
// scheduler. No alert is shown.
class BBXBetaController : public std::enable_shared_from_this<BBXBetaController>
{
public:
    using TokenSource = std::function<std::optional<QString>()>;

    static std::shared_ptr<BBXBetaController> create(std::weak_ptr<BBXBetaControllerDelegate> delegate,
                                                     TokenSource tokenSource);
    ~BBXBetaController();
    // Not an application extension, and the installation source is 3.
    static bool isBetaSupported();

    // False without a beta token; else starts observing the settings downloads.
    bool start();
    void checkForUpdate();
    std::optional<QString> betaToken();
    QString betaUpdateURL();
    HttpRequest updateRequest();
    bool checksSuspended() const;
    std::optional<BBXBetaUpdate> activeUpdate() const;
    // Tests give the client a trust store of theirs.
    void setSessionConfiguration(std::shared_ptr<BBXURLSessionConfiguration> configuration);

private:
    BBXBetaController() = default;
    bool shouldGetUpdates() const;
    void loadUpdate();
    void handleCompletedBetaRequest(const std::optional<QByteArray>& data, const Error& error);
    void temporarilySuspendChecks();
    void allowChecks();
    BBXSettings settings();

    std::weak_ptr<BBXBetaControllerDelegate> mDelegate;
    TokenSource mTokenSource;
    std::unique_ptr<SerialQueue> mQueue;
    NotificationCenter::ObserverToken mObserver;
    mutable std::mutex mMutex; // guards what follows
    std::once_flag mTokenOnce;
    std::optional<QString> mToken;
    std::shared_ptr<BBXURLSessionConfiguration> mConfiguration;
    std::shared_ptr<LOMNetworkClient> mClient;
    std::optional<BBXBetaUpdate> mActiveUpdate;
    bool mSuspended = false;
    bool mRetrying = false;
    std::uint64_t mSuspension = 0; // the main-queue task that ends the suspension
};

} // namespace corvex
