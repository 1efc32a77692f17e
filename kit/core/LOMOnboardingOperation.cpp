#include "kit/core/LOMOnboardingOperation.h"

#include "kit/core/Loom.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMURLBuilder.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/Log.h"

namespace corvex {

const QString LOMOnboardingOperation::ErrorDomain = QStringLiteral("LOMSDKOnboardingErrorDomain");

namespace {

struct OnboardingStreamSeam
{
    std::mutex mutex;
    LOMOnboardingOperation::StreamFactory factory;
};

OnboardingStreamSeam& onboardingStreamSeam()
{
    static OnboardingStreamSeam seam;
    return seam;
}

} // namespace

LOMOnboardingOperation::StreamFactory
LOMOnboardingOperation::setStreamFactoryForTesting(StreamFactory factory)
{
    OnboardingStreamSeam& seam = onboardingStreamSeam();
    std::lock_guard lock(seam.mutex);
    return std::exchange(seam.factory, std::move(factory));
}

LOMOnboardingOperation::LOMOnboardingOperation(
    Callback callback, bool shouldCreate, const QString& APIKey, QVariantMap kitVersionsByKitBundleIdentifier,
    std::shared_ptr<LOMApplicationIdentiferModel> appIdentifierModel, QString endpointString,
    std::weak_ptr<LOMNetworkClient> networkClient, QVariantMap info)
    : LOMNetworkOperation(APIKey), mCallback(std::move(callback)), mShouldCreate(shouldCreate),
      mKitVersions(std::move(kitVersionsByKitBundleIdentifier)), mModel(std::move(appIdentifierModel)),
      mEndpoint(std::move(endpointString)), mClient(std::move(networkClient)), mInfo(std::move(info))
{}

Error LOMOnboardingOperation::error() const
{
    std::lock_guard lock(mErrorMutex);
    return mError;
}

std::optional<QUrl> LOMOnboardingOperation::appCreateURL() const
{
    LOMURLBuilder builder = LOMURLBuilder::URLWithBase(mEndpoint);
    builder.appendComponent(QStringLiteral("/spi/v1/platforms/"));
    builder.escapeAndAppendComponent(Loom::Platform);
    builder.appendComponent(QStringLiteral("/apps"));
    return builder.URL();
}

std::optional<QUrl> LOMOnboardingOperation::appUpdateURL() const
{
    LOMURLBuilder builder = LOMURLBuilder::URLWithBase(mEndpoint);
    builder.appendComponent(QStringLiteral("/spi/v1/platforms/"));
    builder.escapeAndAppendComponent(Loom::Platform);
    builder.appendComponent(QStringLiteral("/apps/"));
    builder.escapeAndAppendComponent(LOMEscapedBundleIdentifier(mInfo));
    return builder.URL();
}

bool LOMOnboardingOperation::encodeFields(LOMMultipartMimeStreamEncoder& encoder) const
{
    auto text = [](const QString& value) { return value.isNull() ? QVariant() : QVariant(value); };
    return encoder.encode([&](LOMMultipartMimeStreamEncoder& e) {
        e.addValue(text(LOMEscapedBundleIdentifier(mInfo)), QStringLiteral("app[identifier]"));
        e.addValue(mModel ? text(mModel->instanceIdentifier) : QVariant(),
                   QStringLiteral("app[instance_identifier]"));
        e.addValue(text(LOMApplicationDisplayName(mInfo)), QStringLiteral("app[name]"));
        e.addValue(text(LOMBundleVersion(mInfo)), QStringLiteral("app[build_version]"));
        e.addValue(text(LOMBundleShortVersionString(mInfo)), QStringLiteral("app[display_version]"));
        e.addValue(QString::number(LOMInstallSource(mInfo)), QStringLiteral("app[source]"));
        e.addValue(mModel ? text(mModel->minimumSDKString()) : QVariant(),
                   QStringLiteral("app[minimum_sdk_version]"));
        e.addValue(mModel ? text(mModel->builtSDKString()) : QVariant(),
                   QStringLiteral("app[built_sdk_version]"));
        for (auto it = mKitVersions.cbegin(); it != mKitVersions.cend(); ++it)
            e.addValue(it.value(),
                       QStringLiteral("%1[%2]").arg(QStringLiteral("app[build][libraries]"), it.key()));
        if (mModel) {
            for (const auto& [architecture, uuid] : mModel->architectureUUIDMap) {
                e.addValue(architecture, QStringLiteral("app[slices][][arch]"));
                e.addValue(uuid, QStringLiteral("app[slices][][uuid]"));
            }
        }
        if (mModel && mModel->icon && !mModel->icon->data.isEmpty() && !mModel->icon->dataHash.isEmpty()) {
            const LOMIcon& icon = *mModel->icon;
            e.addValue(icon.dataHash, QStringLiteral("app[icon][hash]"));
            e.addValue(icon.prerendered ? QStringLiteral("true") : QStringLiteral("false"),
                       QStringLiteral("app[icon][prerendered]"));
            e.addValue(QString::number(qulonglong(std::max(0.0, icon.width))),
                       QStringLiteral("app[icon][width]"));
            e.addValue(QString::number(qulonglong(std::max(0.0, icon.height))),
                       QStringLiteral("app[icon][height]"));
            e.addFileData(icon.data, QStringLiteral("icon.png"), QStringLiteral("image/png"),
                          QStringLiteral("app[icon][data]"));
        }
    });
}

void LOMOnboardingOperation::finishWith(const Error& error)
{
    {
        std::lock_guard lock(mErrorMutex);
        mError = error;
    }
    mCallback(error);
    finishWithError(error);
}

void LOMOnboardingOperation::main()
{
    if (checkForCancellation()) {
        mCallback.drop();
        return;
    }
    StreamFactory factory;
    {
        OnboardingStreamSeam& seam = onboardingStreamSeam();
        std::lock_guard lock(seam.mutex);
        factory = seam.factory;
    }
    std::shared_ptr<LOMMemoryOutputStream> stream =
        factory ? factory() : std::make_shared<LOMMemoryOutputStream>();
    std::unique_ptr<LOMMultipartMimeStreamEncoder> encoder = LOMMultipartMimeStreamEncoder::encoderWithStream(
        stream, LOMMultipartMimeStreamEncoder::generateBoundary());
    if (!encoder) {
        Log::error(QStringLiteral("[Loom] configure failed during onboarding"));
        finishWith(Error(ErrorDomain, 0, QStringLiteral("Multipart mime encoder was nil")));
        return;
    }
    if (!encodeFields(*encoder)) {
        Log::error(QStringLiteral("[Loom] configure failed during onboarding"));
        finishWith(Error(ErrorDomain, 1, QStringLiteral("The multipart body could not be written whole")));
        return;
    }
    const std::optional<QUrl> url = mShouldCreate ? appCreateURL() : appUpdateURL();
    std::shared_ptr<LOMNetworkClient> client = mClient.lock();
    if (!url || !client) {
        Log::error(QStringLiteral("[Loom] configure failed during onboarding"));
        finishWith(Error(ErrorDomain, 2, QStringLiteral("No request could be made for onboarding")));
        return;
    }
    HttpRequest request = mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(*url);
    request.method = mShouldCreate ? QByteArrayLiteral("POST") : QByteArrayLiteral("PUT");
    request.headers.add("Content-Type", encoder->contentTypeHTTPHeaderValue().toUtf8());
    request.headers.add("Content-Length", encoder->contentLengthHTTPHeaderValue().toUtf8());
    request.bodySource = HttpRequest::BodySource::Memory;
    request.body = stream->takeData();
    std::shared_ptr<LOMOnboardingOperation> self =
        std::static_pointer_cast<LOMOnboardingOperation>(shared_from_this());
    client->startDataTask(request, mShouldCreate ? 10 : 1,
                          LOMNetworkClient::DataCompletion(
                              CompletionQueue::global(),
                              [self](const std::optional<QByteArray>&, const std::optional<HttpResponse>&,
                                     const Error& error) { self->finishWith(error); }));
}

} // namespace corvex
