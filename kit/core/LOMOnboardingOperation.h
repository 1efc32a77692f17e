#pragma once

#include "kit/core/LOMApplicationIdentiferModel.h"
#include "kit/core/LOMNetworkOperation.h"
#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "platform/core/Completion.h"

#include <QVariantMap>
#include <functional>
#include <memory>

namespace corvex {

class LOMNetworkClient;

// Sends the application's description as a multipart form: app create (POST, retry limit
// 10) or app update (PUT, retry limit 1). A body that could not be written whole is never
// sent: the operation fails with "LOMSDKOnboardingErrorDomain".
class LOMOnboardingOperation : public LOMNetworkOperation
{
public:
    static const QString ErrorDomain; // "LOMSDKOnboardingErrorDomain"
    // Answered once with the request's error (null on success); a cancelled operation answers
    // nothing.
    using Callback = Completion<const Error&>;
    using StreamFactory = std::function<std::shared_ptr<LOMMemoryOutputStream>()>;

    LOMOnboardingOperation(Callback callback, bool shouldCreate, const QString& APIKey,
                           QVariantMap kitVersionsByKitBundleIdentifier,
                           std::shared_ptr<LOMApplicationIdentiferModel> appIdentifierModel,
                           QString endpointString, std::weak_ptr<LOMNetworkClient> networkClient,
                           QVariantMap info);

    QString className() const override { return QStringLiteral("LOMOnboardingOperation"); }
    void main() override;

    bool shouldCreate() const { return mShouldCreate; }
    Error error() const;
    std::optional<QUrl> appCreateURL() const;
    std::optional<QUrl> appUpdateURL() const;
    // Encodes the fields; false when the body could not be written whole.
    bool encodeFields(LOMMultipartMimeStreamEncoder& encoder) const;

    // Tests hand in the body's stream (one that takes fewer bytes than asked).
    static StreamFactory setStreamFactoryForTesting(StreamFactory factory);

private:
    void finishWith(const Error& error);

    Callback mCallback;
    bool mShouldCreate;
    QVariantMap mKitVersions;
    std::shared_ptr<LOMApplicationIdentiferModel> mModel;
    QString mEndpoint;
    std::weak_ptr<LOMNetworkClient> mClient;
    QVariantMap mInfo;
    mutable std::mutex mErrorMutex;
    Error mError;
};

} // namespace corvex
