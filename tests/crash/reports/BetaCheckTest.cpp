// Beta update checks with a token the test injects, in a helper whose information dictionary
// says the build is signed for distribution, against the vendor-service stand-in.

#include "crash/beta/BBXBetaController.h"
#include "kit/core/LOMSettingsOnboardingManager.h"
#include "platform/core/Bundle.h"
#include "platform/core/NotificationCenter.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <gtest/gtest.h>
#include <iostream>

namespace corvex {
namespace {

class BetaDelegate : public BBXBetaControllerDelegate
{
public:
    explicit BetaDelegate(QString endpoint) : mEndpoint(std::move(endpoint)) {}
    QString APIKeyForBetaController() override { return QStringLiteral("beta-key"); }
    BBXSettings settingsForBetaController() override
    {
        return BBXSettings(
            Value::fromVariant(QVariantMap{
                {QStringLiteral("beta"), QVariantMap{{QStringLiteral("update_suspend_duration"), 100}}}}),
            QVariantMap{
                {QStringLiteral("Blackbox"), QVariantMap{{QStringLiteral("BetaEndpoint"), mEndpoint}}}});
    }

private:
    QString mEndpoint;
};

CORVEX_TEST_HELPER(beta_probe)
{
    Bundle::supplyInfoDictionary(
        QVariantMap{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.beta")},
                    {QStringLiteral("CFBundleVersion"), QStringLiteral("7")},
                    {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")},
                    {QStringLiteral("BlackboxSignedForDistribution"), true}});
    test::ScopedVirtualTime time;
    auto delegate = std::make_shared<BetaDelegate>(args.value(0));
    auto tokenless = BBXBetaController::create(delegate, [] { return std::optional<QString>(); });
    std::cout << (tokenless->start() ? "started" : "refused") << std::endl;

    auto beta = BBXBetaController::create(
        delegate, [] { return std::optional<QString>(QStringLiteral("test-token")); });
    const auto settingsArrived = [] {
        NotificationCenter::defaultCenter().post(LOMSettingsOnboardingManager::SettingsAvailableNotification);
    };
    std::cout << (beta->start() ? "started" : "refused") << std::endl;
    settingsArrived();
    test::runUntil([&] { return beta->activeUpdate().has_value() && beta->checksSuspended(); });
    std::cout << beta->activeUpdate().value_or(BBXBetaUpdate()).version().toStdString() << " "
              << (beta->checksSuspended() ? "suspended" : "open") << std::endl;
    settingsArrived(); // suspended: no request
    time.advance(100.0);
    test::runUntil([&] { return !beta->checksSuspended(); });
    settingsArrived(); // the second answer holds no "url"
    test::runUntil([&] { return beta->checksSuspended(); });
    std::cout << beta->activeUpdate().value_or(BBXBetaUpdate()).version().toStdString() << std::endl;
    return 0;
}

TEST(BBXBetaController, ChecksRunOnlyWithATokenAreSuspendedAfterAnAnswerAndKeepTheLastGoodUpdate)
{
    test::VendorServiceStandIn service("com.example.beta");
    service.queueAnswer(test::VendorServiceStandIn::Route::Beta,
                        test::VendorServiceStandIn::jsonAnswer(
                            "{\"url\":\"https://builds.example.invalid/2.0\",\"version_string\":\"2.0\"}"));
    service.queueAnswer(test::VendorServiceStandIn::Route::Beta,
                        test::VendorServiceStandIn::jsonAnswer("{\"version_string\":\"3.0\"}"));
    ASSERT_TRUE(service.start());
    auto helper =
        test::HelperProcess::start(QStringLiteral("beta_probe"), {QString::fromUtf8(service.baseUrl())});
    ASSERT_TRUE(helper);
    EXPECT_EQ(helper->readLine(30).value_or("none"), QByteArray("refused"));
    EXPECT_EQ(helper->readLine(30).value_or("none"), QByteArray("started"));
    EXPECT_EQ(helper->readLine(30).value_or("none"), QByteArray("2.0 suspended"));
    EXPECT_EQ(helper->readLine(30).value_or("none"), QByteArray("2.0"));
    EXPECT_EQ(helper->wait(), 0);
    const auto requests = service.requests(test::VendorServiceStandIn::Route::Beta);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("X-Blackbox-Beta-Token"), QByteArray("test-token"));
    EXPECT_EQ(requests[0].header("X-Blackbox-API-Key"), QByteArray("beta-key"));
    EXPECT_TRUE(requests[0].target.contains("?build_version=7&display_version=1.0&instance="))
        << requests[0].target.toStdString();
    EXPECT_TRUE(requests[0].target.endsWith("&source=3")) << requests[0].target.toStdString();
}

TEST(BBXBetaUpdate, AnAnswerWithoutAUsableUrlIsRefusedAsUnparseable)
{
    Error error;
    EXPECT_FALSE(BBXBetaUpdate::updateWithData("{\"version_string\":\"1\"}", &error));
    EXPECT_EQ(error.code(), -1017);
    EXPECT_FALSE(BBXBetaUpdate::updateWithData("[1]", &error));
    EXPECT_FALSE(BBXBetaUpdate::updateWithData("{\"url\":7}", &error));
    EXPECT_FALSE(BBXBetaUpdate::updateWithData("{", &error));
    EXPECT_TRUE(BBXBetaUpdate::updateWithData("{\"url\":\"https://a.invalid/b\"}", &error));
}

} // namespace
} // namespace corvex
