// The settings download and onboarding against the vendor service stand-in: the start-up
// sequence, the stored "settings.json" that only a complete JSON object replaces, the
// app-create body read by Python's email package, and a helper killed mid-download.

#include "kit/core/BBXUserDefaults.h"
#include "kit/core/LOMOnboardingOperation.h"
#include "kit/core/LOMSettingsOnboardingManager.h"
#include "kit/core/Loom.h"
#include "kit/net/LOMNetworkClient.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"
#include "platform/net/HttpSession.h"
#include "tests/kit/KitNetTestSupport.h"
#include "tests/kit/KitTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <thread>

using namespace corvex;
using Route = corvex::test::VendorServiceStandIn::Route;

namespace {

QString kitSettingsFile()
{
    return Paths::caches() + QStringLiteral("/io.loom.sdk.mac.data/com.tallowfen.corvex/settings.json");
}

void writeKitFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readKitFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

std::shared_ptr<LOMApplicationIdentiferModel> settingsTestModel(bool withIcon = true)
{
    std::map<QString, QString> slices{
        {QStringLiteral("x86_64"), QStringLiteral("00112233445566778899aabbccddeeff")},
        {QStringLiteral("arm64"), QStringLiteral("ffeeddccbbaa99887766554433221100")}};
    std::optional<LOMIcon> icon;
    if (withIcon)
        icon = LOMIcon::withData(QByteArray("\x89PNG\r\n\x1a\nicon bytes", 18), 512.7, 512.2);
    return LOMApplicationIdentiferModel::withFacts(QStringLiteral("INSTALL-ID"), test::kitTestInfo(), slices,
                                                   {10, 9, 0}, {10, 15, 2}, icon);
}

// A manager on the stand-in (HTTP), with what it publishes and posts recorded.
struct SettingsRig
{
    test::VendorServiceStandIn vendor{"com.tallowfen.corvex"};
    std::shared_ptr<LOMSettingsOnboardingManager> manager;
    std::mutex mutex;
    std::vector<Value> published;
    std::vector<int> createsAtNotification;
    std::vector<int> updatesAtNotification;
    NotificationCenter::ObserverToken token;

    bool start(std::shared_ptr<LOMApplicationIdentiferModel> model = settingsTestModel(),
               QVariantMap info = test::kitTestInfo())
    {
        if (!vendor.start())
            return false;
        qputenv("SettingsEndpoint", vendor.baseUrl());
        qputenv("ConfigureEndpoint", vendor.baseUrl());
        LOMSettingsOnboardingManager::Environment environment;
        environment.info = [info] { return info; };
        environment.publish = [this](const Value& settings) {
            std::lock_guard lock(mutex);
            published.push_back(settings);
        };
        manager = LOMSettingsOnboardingManager::create(std::move(model), environment);
        token = NotificationCenter::defaultCenter().addObserver(
            LOMSettingsOnboardingManager::SettingsAvailableNotification, nullptr,
            [this](const NotificationCenter::Notification&) {
                std::lock_guard lock(mutex);
                createsAtNotification.push_back(vendor.count(Route::AppCreate));
                updatesAtNotification.push_back(vendor.count(Route::AppUpdate));
            });
        return manager != nullptr;
    }
    ~SettingsRig() { NotificationCenter::defaultCenter().removeObserver(token); }

    bool run()
    {
        manager->beginSettingsAndOnboardingOperationsWithAPIKey(
            QStringLiteral("test-api-key"), {{QStringLiteral("io.loom.sdk.mac"), "1.6.12"}});
        return test::runUntil([&] { return manager->networkClient()->session()->isInvalidated(); }, 20);
    }
    int notifications()
    {
        std::lock_guard lock(mutex);
        return int(createsAtNotification.size());
    }
};

QStringList headerNames(const test::LoopbackRequest& request)
{
    QStringList names;
    for (const auto& field : request.headers)
        names.append(QString::fromLatin1(field.first));
    return names;
}

// Parses a multipart body with Python's email package: [name, filename, type, payload].
QJsonObject parsedByPython(const QByteArray& body, const QByteArray& contentType)
{
    const QString path = test::testDir() + QStringLiteral("/body.bin");
    writeKitFile(path, body);
    const test::ProgramRun result = test::runProgramToEnd(
        QStringLiteral("python3"), {test::kitScriptDir() + QStringLiteral("/check_multipart_body.py"), path,
                                    QString::fromLatin1(contentType)});
    if (!result.ran || result.exitCode != 0)
        ADD_FAILURE() << result.output.toStdString();
    return QJsonDocument::fromJson(result.output).object();
}

class ShortMemoryStream : public LOMMemoryOutputStream
{
public:
    qint64 write(const char* bytes, qint64 length) override
    {
        return LOMMemoryOutputStream::write(bytes, std::min<qint64>(length, 7));
    }
};

} // namespace

TEST(LOMSettingsOnboardingManager, ANewAppIsCreatedThenSettingsComeAgainBeforeTheNotification)
{
    SettingsRig rig;
    rig.vendor.queueAnswer(Route::Settings, test::VendorServiceStandIn::jsonAnswer(
                                                test::VendorServiceStandIn::settingsBody("new", false)));
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.vendor.count(Route::Settings), 2);
    ASSERT_EQ(rig.vendor.count(Route::AppCreate), 1);
    EXPECT_EQ(rig.createsAtNotification, std::vector<int>{1});
    EXPECT_EQ(rig.manager->settingsModel().appStatus(), QStringLiteral("activated"));
    {
        std::lock_guard lock(rig.mutex);
        ASSERT_FALSE(rig.published.empty());
        EXPECT_EQ(
            rig.published.back().value(QStringLiteral("app")).value(QStringLiteral("status")).toString(),
            QStringLiteral("activated"));
    }

    const test::LoopbackRequest settings = rig.vendor.requests(Route::Settings).front();
    QStringList expectedHeaders{QStringLiteral("User-Agent"),
                                QStringLiteral("Accept-Charset"),
                                QStringLiteral("Accept-Language"),
                                QStringLiteral("Content-Language"),
                                QStringLiteral("X-Blackbox-Developer-Token"),
                                QStringLiteral("X-Blackbox-API-Client-Id"),
                                QStringLiteral("X-Blackbox-API-Client-Display-Version"),
                                QStringLiteral("X-Blackbox-API-Client-Build-Version"),
                                QStringLiteral("X-Blackbox-API-Key"),
                                QStringLiteral("Accept"),
                                QStringLiteral("X-Blackbox-Installation-ID")};
    const QStringList sent = headerNames(settings);
    for (qsizetype i = 0; i + 1 < expectedHeaders.size(); ++i)
        EXPECT_LT(sent.indexOf(expectedHeaders[i]), sent.indexOf(expectedHeaders[i + 1]))
            << expectedHeaders[i].toStdString();
    EXPECT_EQ(settings.header("User-Agent"), QByteArray("io.loom.sdk.mac/1.6.12 (62)"));
    EXPECT_EQ(settings.header("X-Blackbox-Installation-ID"), QByteArray("INSTALL-ID"));
    EXPECT_TRUE(settings.target.contains("?build_version=42&display_version=1.6.0&instance="));
    EXPECT_TRUE(settings.target.contains("&icon_hash=")) << settings.target.toStdString();

    const test::LoopbackRequest create = rig.vendor.requests(Route::AppCreate).front();
    EXPECT_EQ(create.method, QByteArray("POST"));
    EXPECT_EQ(create.header("Content-Length").toLongLong(), create.body.size());
    EXPECT_NE(create.header("Accept"), QByteArray("application/json")); // no content-type rule for creates
    const QJsonObject parsed = parsedByPython(create.body, create.header("Content-Type"));
    EXPECT_TRUE(parsed.value(QStringLiteral("multipart")).toBool());
    QStringList names;
    QMap<QString, QString> values;
    for (const QJsonValue& part : parsed.value(QStringLiteral("parts")).toArray()) {
        const QJsonObject object = part.toObject();
        names.append(object.value(QStringLiteral("name")).toString());
        values.insert(names.back(), QString::fromUtf8(QByteArray::fromBase64(
                                        object.value(QStringLiteral("payload")).toString().toLatin1())));
    }
    EXPECT_EQ(names, (QStringList{
                         QStringLiteral("app[identifier]"), QStringLiteral("app[instance_identifier]"),
                         QStringLiteral("app[name]"), QStringLiteral("app[build_version]"),
                         QStringLiteral("app[display_version]"), QStringLiteral("app[source]"),
                         QStringLiteral("app[minimum_sdk_version]"), QStringLiteral("app[built_sdk_version]"),
                         QStringLiteral("app[build][libraries][io.loom.sdk.mac]"),
                         QStringLiteral("app[slices][][arch]"), QStringLiteral("app[slices][][uuid]"),
                         QStringLiteral("app[slices][][arch]"), QStringLiteral("app[slices][][uuid]"),
                         QStringLiteral("app[icon][hash]"), QStringLiteral("app[icon][prerendered]"),
                         QStringLiteral("app[icon][width]"), QStringLiteral("app[icon][height]"),
                         QStringLiteral("app[icon][data]")}));
    EXPECT_EQ(values.value(QStringLiteral("app[identifier]")), QStringLiteral("com.tallowfen.corvex"));
    EXPECT_EQ(values.value(QStringLiteral("app[minimum_sdk_version]")), QStringLiteral("10.9.0"));
    EXPECT_EQ(values.value(QStringLiteral("app[built_sdk_version]")), QStringLiteral("10.15.2"));
    EXPECT_EQ(values.value(QStringLiteral("app[icon][width]")), QStringLiteral("512"));
    EXPECT_EQ(values.value(QStringLiteral("app[icon][height]")), QStringLiteral("512"));
    EXPECT_EQ(
        values.value(QStringLiteral("app[instance_identifier]")),
        LOMApplicationIdentiferModel::computeInstanceIdentifier(settingsTestModel()->architectureUUIDMap));
    const QJsonObject icon = parsed.value(QStringLiteral("parts")).toArray().last().toObject();
    EXPECT_EQ(icon.value(QStringLiteral("filename")).toString(), QStringLiteral("icon.png"));
    EXPECT_EQ(icon.value(QStringLiteral("type")).toString(), QStringLiteral("image/png"));
    EXPECT_EQ(QByteArray::fromBase64(icon.value(QStringLiteral("payload")).toString().toLatin1()),
              QByteArray("\x89PNG\r\n\x1a\nicon bytes", 18));
}

TEST(LOMSettingsOnboardingManager, UpdatesComeAfterTheNotificationAndOnlyOneConfigureARun)
{
    {
        SettingsRig rig;
        rig.vendor.setDefaultAnswer(Route::Settings,
                                    test::VendorServiceStandIn::jsonAnswer(
                                        test::VendorServiceStandIn::settingsBody("activated", true)));
        ASSERT_TRUE(rig.start(settingsTestModel(false)));
        ASSERT_TRUE(rig.run());
        EXPECT_EQ(rig.updatesAtNotification, std::vector<int>{0});
        ASSERT_EQ(rig.vendor.count(Route::AppUpdate), 1);
        EXPECT_EQ(rig.vendor.requests(Route::AppUpdate).front().method, QByteArray("PUT"));
        EXPECT_FALSE(rig.vendor.requests(Route::Settings).front().target.contains("icon_hash"));
    }
    {
        SettingsRig rig;
        rig.vendor.setDefaultAnswer(
            Route::Settings,
            test::VendorServiceStandIn::jsonAnswer(test::VendorServiceStandIn::settingsBody("new", false)));
        ASSERT_TRUE(rig.start());
        ASSERT_TRUE(rig.run());
        EXPECT_EQ(rig.vendor.count(Route::AppCreate), 1);
        EXPECT_EQ(rig.vendor.count(Route::Settings), 2);
        EXPECT_EQ(rig.notifications(), 1);
    }
}

TEST(LOMSettingsOnboardingManager, BadAnswersLeaveThePreviousSettingsByteForByte)
{
    const QByteArray previous = "{\"app\":{\"status\":\"activated\"},\"previous\":true}";
    const struct
    {
        const char* name;
        test::VendorServiceStandIn::Answer answer;
    } cases[] = {
        {"not JSON", test::VendorServiceStandIn::jsonAnswer("{\"app\": trunc")},
        {"an array", test::VendorServiceStandIn::jsonAnswer("[1,2]")},
        {"not found",
         [] {
             test::VendorServiceStandIn::Answer a = test::VendorServiceStandIn::jsonAnswer("{}");
             a.status = 404;
             return a;
         }()},
        {"text/html", test::VendorServiceStandIn::jsonAnswer("{}", "text/html")},
        {"reset",
         [] {
             test::VendorServiceStandIn::Answer a;
             a.reset = true;
             return a;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeKitFile(kitSettingsFile(), previous);
        SettingsRig rig;
        rig.vendor.setDefaultAnswer(Route::Settings, c.answer);
        ASSERT_TRUE(rig.start());
        test::LogCapture log;
        ASSERT_TRUE(rig.run());
        EXPECT_EQ(readKitFile(kitSettingsFile()), previous);
        EXPECT_EQ(rig.notifications(), 0);
        EXPECT_TRUE(log.contains(QStringLiteral("[Loom] failed to download settings")));
        EXPECT_EQ(rig.vendor.count(Route::AppCreate), 0);
    }
}

// An unconfigured build (no variable, no entry in the information dictionary, or the shipped
// default named) has nothing to ask: no request, no error, one informative line.
TEST(LOMSettingsOnboardingManager, AnUnconfiguredBuildMakesNoRequestAndSaysSoOnce)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    const QString shipped = LOMSettingsOnboardingManager::DefaultSettingsEndpoint;
    const struct
    {
        const char* name;
        QByteArray variable; // null: unset
        QString inDictionary;
    } cases[] = {
        {"nothing set", {}, {}},
        {"the shipped default in the environment", shipped.toUtf8(), {}},
        {"the shipped default in the dictionary", {}, shipped},
        {"an empty variable and an empty entry", "", QStringLiteral("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap info = test::kitTestInfo();
        if (!c.inDictionary.isNull())
            info.insert(QStringLiteral("Blackbox"),
                        QVariantMap{{QStringLiteral("SettingsEndpoint"), c.inDictionary}});
        SettingsRig rig;
        ASSERT_TRUE(rig.start(settingsTestModel(), info));
        if (c.variable.isNull())
            qunsetenv("SettingsEndpoint");
        else
            qputenv("SettingsEndpoint", c.variable);
        EXPECT_FALSE(rig.manager->isEndpointConfigured(QStringLiteral("SettingsEndpoint")));
        // Settings a configured service once gave are not used: they would name its hosts.
        writeKitFile(kitSettingsFile(), "{\"app\":{\"status\":\"stored\"}}");
        rig.manager->publishStoredSettings();
        ASSERT_EQ(rig.published.size(), 1u);
        EXPECT_TRUE(rig.published.front().isNull());
        const int transfers = HttpSession::transfersStartedInProcess();
        test::LogCapture log;
        ASSERT_TRUE(rig.run());
        EXPECT_EQ(HttpSession::transfersStartedInProcess(), transfers);
        EXPECT_EQ(rig.vendor.requests().size(), 0u);
        EXPECT_EQ(rig.notifications(), 0);
        EXPECT_EQ(log.lines(), QStringList{QStringLiteral(
                                   "[Loom] No settings endpoint is configured: the kit makes no requests")});
        EXPECT_EQ(log.count(LogLevel::Error, QString()), 0);
    }
    // The stand-in named, the same rig asks it.
    SettingsRig configured;
    ASSERT_TRUE(configured.start());
    EXPECT_TRUE(configured.manager->isEndpointConfigured(QStringLiteral("SettingsEndpoint")));
    ASSERT_TRUE(configured.run());
    EXPECT_GE(configured.vendor.count(Route::Settings), 1);
}

TEST(LOMSettingsOnboardingManager, UnusableStoredFilesAndIdentifiersStayInsideTheKitsFolder)
{
    // A damaged stored file is logged and removed when read.
    writeKitFile(kitSettingsFile(), "{damaged");
    LOMSettings settings(kitSettingsFile());
    test::LogCapture log;
    EXPECT_TRUE(settings.settingsDictionary().isNull());
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] Could not load settings with error:")));
    EXPECT_FALSE(QFile::exists(kitSettingsFile()));

    // An identifier that would climb out of the kit's folder makes no folder and no request.
    const QString outside = Paths::caches() + QStringLiteral("/keep.txt");
    writeKitFile(outside, "kept");
    for (const QString& identifier : {QStringLiteral("../.."), QStringLiteral("a/../../.."),
                                      QStringLiteral(""), QStringLiteral("a//b")}) {
        SettingsRig rig;
        ASSERT_TRUE(rig.start(settingsTestModel(), test::kitTestInfo(identifier)));
        EXPECT_TRUE(rig.manager->settingsDirectoryPath().isEmpty()) << identifier.toStdString();
        ASSERT_TRUE(rig.run());
        EXPECT_EQ(rig.vendor.requests().size(), 0u);
    }
    EXPECT_EQ(readKitFile(outside), QByteArray("kept"));

    // "/" inside an identifier is a sub-folder here.
    SettingsRig nested;
    ASSERT_TRUE(nested.start(settingsTestModel(), test::kitTestInfo(QStringLiteral("com.example/app"))));
    EXPECT_TRUE(nested.manager->settingsDirectoryPath().endsWith(
        QStringLiteral("io.loom.sdk.mac.data/com.example/app")));
}

TEST(LOMSettingsOnboardingManager, AShortBodyWriteFailsTheCreateWithoutSendingIt)
{
    SettingsRig rig;
    rig.vendor.setDefaultAnswer(Route::Settings, test::VendorServiceStandIn::jsonAnswer(
                                                     test::VendorServiceStandIn::settingsBody("new", false)));
    LOMOnboardingOperation::setStreamFactoryForTesting([] { return std::make_shared<ShortMemoryStream>(); });
    ASSERT_TRUE(rig.start());
    test::LogCapture log;
    ASSERT_TRUE(rig.run());
    LOMOnboardingOperation::setStreamFactoryForTesting({});
    EXPECT_EQ(rig.vendor.count(Route::AppCreate), 0);
    EXPECT_EQ(rig.vendor.count(Route::Settings), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] Failed to write data to stream")));
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] unable to complete application configure:")));
}

TEST(LOMSettingsOnboardingManager, ConfigurationComesFromTheEnvironmentThenTheBundleThenDefaults)
{
    QVariantMap info = test::kitTestInfo();
    info.insert(QStringLiteral("Blackbox"),
                QVariantMap{{QStringLiteral("SettingsEndpoint"), QStringLiteral("https://bundle.invalid")}});
    LOMSettingsOnboardingManager::Environment environment;
    environment.info = [info] { return info; };
    auto manager = LOMSettingsOnboardingManager::create(settingsTestModel(), environment);
    qunsetenv("SettingsEndpoint");
    qunsetenv("ConfigureEndpoint");
    EXPECT_EQ(manager->valueForConfigurationKey(QStringLiteral("SettingsEndpoint")),
              QStringLiteral("https://bundle.invalid"));
    EXPECT_TRUE(manager->valueForConfigurationKey(QStringLiteral("ConfigureEndpoint"))
                    .endsWith(QStringLiteral(".invalid")));
    qputenv("SettingsEndpoint", "http://127.0.0.1:9");
    EXPECT_TRUE(manager->settingsURL()->toString().startsWith(
        QStringLiteral("http://127.0.0.1:9/spi/v2/platforms/mac/apps/com.tallowfen.corvex/settings?")));
}

TEST(LOMSettingsOnboardingManager, TheRegistryStartsTheDownloadAndPublishesTheSettings)
{
    test::VendorServiceStandIn vendor("com.tallowfen.corvex");
    ASSERT_TRUE(vendor.start());
    qputenv("SettingsEndpoint", vendor.baseUrl());
    writeKitFile(kitSettingsFile(), "{\"app\":{\"status\":\"stored\"}}");
    BBXUserDefaults store(test::testDir() + QStringLiteral("/support"),
                          QStringLiteral("com.tallowfen.corvex"), nullptr);
    const QVariantMap info = test::kitTestInfo();
    Loom loom(store, [info] { return info; });
    auto manager = LOMInstallSettingsAndOnboarding(loom, [info] { return info; });
    // What was stored is there before any download.
    EXPECT_EQ(loom.settings().value(QStringLiteral("app")).value(QStringLiteral("status")).toString(),
              QStringLiteral("stored"));
    EXPECT_EQ(loom.instanceIdentifier().size(), 40);
    loom.start({});
    ASSERT_TRUE(test::runUntil([&] {
        return loom.settings().value(QStringLiteral("app")).value(QStringLiteral("status")).toString() ==
               QLatin1String("activated");
    }));
    ASSERT_EQ(vendor.count(Route::Settings), 1);
    EXPECT_TRUE(vendor.requests(Route::Settings)
                    .front()
                    .target.contains("instance=" + loom.instanceIdentifier().toLatin1()));
}

// Starts the kit against the stand-in named by SettingsEndpoint and runs until killed,
// on an auto-advancing clock; says "stored" when the settings were replaced.
CORVEX_TEST_HELPER(kitSettingsDownloader)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    BBXUserDefaults store(test::testDir() + QStringLiteral("/support"),
                          QStringLiteral("com.tallowfen.corvex"), nullptr);
    const QVariantMap info = test::kitTestInfo();
    Loom loom(store, [info] { return info; });
    auto manager = LOMInstallSettingsAndOnboarding(loom, [info] { return info; });
    NotificationCenter::defaultCenter().addObserver(
        LOMSettingsOnboardingManager::SettingsAvailableNotification, nullptr,
        [](const NotificationCenter::Notification&) {
            std::printf("stored\n");
            std::fflush(stdout);
        });
    loom.start({});
    test::runUntil([] { return false; }, 120);
    return 0;
}

TEST(KitSettingsSoak, AKilledDownloadLeavesThePreviousOrTheCompleteNewFile)
{
    std::uint32_t seed = std::random_device{}();
    if (qEnvironmentVariableIsSet("CORVEX_CRASH_SEED"))
        seed = std::uint32_t(qEnvironmentVariable("CORVEX_CRASH_SEED").toULong());
    RecordProperty("seed", std::to_string(seed));
    std::cout << "kill schedule seed " << seed << " (set CORVEX_CRASH_SEED to repeat)" << std::endl;
    std::mt19937 random(seed);

    constexpr qint64 Piece = 4096;
    constexpr qint64 Pieces = 16;
    test::VendorServiceStandIn vendor("com.tallowfen.corvex");
    std::mutex mutex;
    std::condition_variable reached;
    qint64 killAfter = 0; // bytes of the body sent before the kill
    bool atKillPoint = false;
    QByteArray body;
    auto answerFor = [&](int run) {
        QByteArray made =
            "{\"app\":{\"status\":\"activated\"},\"run\":" + QByteArray::number(run) + ",\"pad\":\"";
        made += QByteArray(Piece * Pieces - made.size() - 2, char('a' + run % 26));
        made += "\"}";
        return made;
    };
    test::VendorServiceStandIn::Answer slow;
    slow.headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
    slow.pieceBytes = Piece;
    slow.paced = [&](qint64 sent) {
        std::unique_lock lock(mutex);
        if ((sent >= killAfter || sent >= body.size()) && !atKillPoint) {
            atKillPoint = true;
            reached.notify_all();
        }
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // an answer that trickles in
        return true;
    };
    ASSERT_TRUE(vendor.start());
    qputenv("SettingsEndpoint", vendor.baseUrl());
    writeKitFile(kitSettingsFile(), "{\"app\":{\"status\":\"first\"}}");

    const int kills = test::soakRuns(20, 6, 4);
    int keptOld = 0;
    int tookNew = 0;
    for (int run = 0; run < kills; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run << ", seed " << seed);
        const QByteArray previous = readKitFile(kitSettingsFile());
        {
            std::lock_guard lock(mutex);
            body = answerFor(run);
            // Anywhere from the first piece to past the last (then the write is under way).
            killAfter = std::uniform_int_distribution<qint64>(0, Pieces + 2)(random) * Piece;
            atKillPoint = false;
            test::VendorServiceStandIn::Answer answer = slow;
            answer.body = body;
            vendor.setDefaultAnswer(Route::Settings, answer);
        }
        auto helper = test::HelperProcess::start(QStringLiteral("kitSettingsDownloader"));
        ASSERT_TRUE(helper);
        const bool pastTheBody = killAfter > Pieces * Piece;
        const bool lastRun = run == kills - 1;
        if (lastRun) {
            // The last helper is killed only once it said the settings are stored.
            const std::optional<QByteArray> line = helper->readLine(30);
            ASSERT_TRUE(line.has_value());
            EXPECT_EQ(line->trimmed(), QByteArray("stored"));
        } else if (pastTheBody) {
            // The body is all sent: kill within the moments the helper stores it.
            {
                std::unique_lock lock(mutex);
                reached.wait_for(lock, std::chrono::seconds(30), [&] { return atKillPoint; });
            }
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(0, 60000)(random)));
        } else {
            std::unique_lock lock(mutex);
            reached.wait_for(lock, std::chrono::seconds(30), [&] { return atKillPoint; });
        }
        helper->kill(SIGKILL);
        helper->wait();
        const QByteArray now = readKitFile(kitSettingsFile());
        EXPECT_TRUE(now == previous || now == body)
            << "settings.json is neither the old nor the new file (" << now.size() << " bytes)";
        (now == body ? tookNew : keptOld)++;
        if (lastRun) {
            EXPECT_EQ(now, body);
        }
    }
    test::reportSoak(QStringLiteral("%1 kills: %2 kept the previous file, %3 had the new one")
                         .arg(kills)
                         .arg(keptOld)
                         .arg(tookNew));
}
