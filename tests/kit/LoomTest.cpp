#include "kit/core/Loom.h"

#include "kit/core/BBXUserDefaults.h"
#include "platform/core/AfterFirstFrame.h"
#include "platform/core/Bundle.h"
#include "platform/core/Error.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <iostream>

using namespace corvex;

namespace {

// A kit type standing in for a registered class.
class FakeKitClass : public LOMKitClass
{
public:
    FakeKitClass(QString name, QString bundleIdentifier, bool conforms = true)
        : mName(std::move(name)), mBundleIdentifier(std::move(bundleIdentifier)), mConforms(conforms)
    {}
    QString className() const override { return mName; }
    bool conformsToLOMKit() const override { return mConforms; }
    QString bundleIdentifier() const override { return mBundleIdentifier; }
    QString kitDisplayVersion() const override { return QStringLiteral("2.0.") + mName; }
    bool answersInitializeIfNeeded() const override { return true; }
    void initializeIfNeeded() override { ++initializations; }
    LOMLegacyKit* sharedInstance() override { return legacy; }

    int initializations = 0;
    LOMLegacyKit* legacy = nullptr;

private:
    QString mName;
    QString mBundleIdentifier;
    bool mConforms;
};

class FakeLegacyKit : public LOMLegacyKit
{
public:
    void start() override { ++starts; }
    QString bundleIdentifier() const override { return QStringLiteral("com.old.kit"); }
    QString version() const override { return QStringLiteral("0.9"); }
    int starts = 0;
};

class FakeKitObject : public LOMKitObject
{
public:
    explicit FakeKitObject(LOMKitClass& kitClass) : mClass(kitClass) {}
    LOMKitClass& kitClass() const override { return mClass; }

private:
    LOMKitClass& mClass;
};

QVariantMap goodLoomInfo()
{
    return {{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.tallowfen.corvex")},
            {QStringLiteral("Loom"),
             QVariantMap{{QStringLiteral("APIKey"), QStringLiteral("key-123")},
                         {QStringLiteral("Kits"),
                          QVariantList{
                              QVariantMap{{QStringLiteral("KitName"), QStringLiteral("Blackbox")},
                                          {QStringLiteral("KitInfo"), QVariantMap{{QStringLiteral("a"), 1}}}},
                              QVariantMap{{QStringLiteral("KitName"), QStringLiteral("Tally")}}}}}}};
}

// Registers fake kits for one test and takes them away afterwards.
class LoomTest : public ::testing::Test
{
protected:
    LoomTest()
        : store(test::testDir() + QStringLiteral("/support"), QStringLiteral("com.tallowfen.corvex"),
                nullptr),
          blackbox(QStringLiteral("Blackbox"), QStringLiteral("com.loomworks.blackbox")),
          tally(QStringLiteral("Tally"), QStringLiteral("io.tally.sdk"))
    {
        LOMKitClassRegistry::registerClass(&blackbox);
        LOMKitClassRegistry::registerClass(&tally);
    }
    ~LoomTest() override
    {
        for (const QString& name : LOMKitClassRegistry::registeredNames())
            LOMKitClassRegistry::unregisterClass(name);
    }

    std::unique_ptr<Loom> makeLoom(std::optional<QVariantMap> info = goodLoomInfo())
    {
        return std::make_unique<Loom>(store, [info] { return info; });
    }

    static QStringList names(const std::vector<LOMKitClass*>& classes)
    {
        QStringList list;
        for (const LOMKitClass* kitClass : classes)
            list.append(kitClass->className());
        return list;
    }

    BBXUserDefaults store;
    FakeKitClass blackbox;
    FakeKitClass tally;
};

} // namespace

TEST_F(LoomTest, FirstLaunchMakesTheInstallationIdentifierAndTheNextReadsIt)
{
    auto first = makeLoom();
    EXPECT_TRUE(first->isFirstInstall());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F-]{36}$")).match(first->installID()).hasMatch());
    BBXUserDefaults reloaded(test::testDir() + QStringLiteral("/support"),
                             QStringLiteral("com.tallowfen.corvex"), nullptr);
    EXPECT_EQ(reloaded.stringForKey(Loom::InstallIdentifierKey), first->installID());
    auto second = makeLoom();
    EXPECT_FALSE(second->isFirstInstall());
    EXPECT_EQ(second->installID(), first->installID());
}

TEST_F(LoomTest, ExecutionIdentifiersAre32LowerHexDigitsAndDiffer)
{
    auto first = makeLoom();
    auto second = makeLoom();
    const QRegularExpression form(QStringLiteral("^[0-9a-f]{32}$"));
    EXPECT_TRUE(form.match(first->executionIdentifier()).hasMatch())
        << first->executionIdentifier().toStdString();
    EXPECT_NE(first->executionIdentifier(), second->executionIdentifier());
}

TEST_F(LoomTest, StartInitialisesOnceAndASecondCallOnlyLogs)
{
    auto loom = makeLoom();
    QString handedKey;
    QVariantMap handedVersions;
    int begins = 0;
    loom->setSettingsAndOnboarding({[&](const QString& key, const QVariantMap& versions) {
                                        ++begins;
                                        handedKey = key;
                                        handedVersions = versions;
                                    },
                                    {}});
    loom->start({&blackbox});
    EXPECT_EQ(names(loom->kitClasses()), (QStringList{QStringLiteral("Blackbox"), QStringLiteral("Tally")}));
    EXPECT_EQ(blackbox.initializations, 1);
    EXPECT_EQ(tally.initializations, 1);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(handedKey, QStringLiteral("key-123"));
    EXPECT_EQ(handedVersions.value(QStringLiteral("io.loom.sdk.mac")).toString(), QStringLiteral("1.6.12"));
    EXPECT_EQ(handedVersions.value(QStringLiteral("io.tally.sdk")).toString(), QStringLiteral("2.0.Tally"));

    test::LogCapture log;
    loom->start({&blackbox});
    EXPECT_TRUE(
        log.contains(QStringLiteral("[Loom] [Loom +with] called multiple times. Only the first call is "
                                    "honored, please pass all kits you wish to initialize")));
    EXPECT_EQ(blackbox.initializations, 1);
    EXPECT_EQ(begins, 1);
}

TEST_F(LoomTest, ALaunchStartsItsKitsAtOnceAndAsksForSettingsAfterItsFirstFrame)
{
    test::ScopedVirtualTime time;
    auto loom = makeLoom();
    int begins = 0;
    loom->setSettingsAndOnboarding({[&](const QString&, const QVariantMap&) { ++begins; }, {}});
    AfterFirstFrame::hold();
    loom->start({&blackbox});
    EXPECT_EQ(blackbox.initializations, 1);
    EXPECT_EQ(tally.initializations, 1);
    time.advance(1.0);
    EXPECT_EQ(begins, 0);
    AfterFirstFrame::release();
    time.advance(0.0);
    EXPECT_EQ(begins, 1);
}

TEST_F(LoomTest, KitListCompletionRules)
{
    FakeKitClass phoneauth(QStringLiteral("Phoneauth"), QStringLiteral("p"));
    FakeKitClass screenlens(QStringLiteral("Screenlens"), QStringLiteral("s"));
    FakeKitClass adsSdk(QStringLiteral("AdsMobileSDK"), QStringLiteral("ads"));
    FakeKitClass adsKit(QStringLiteral("AdsKit"), QStringLiteral("adskit"));
    struct Case
    {
        const char* name;
        std::vector<FakeKitClass*> registered;
        std::vector<FakeKitClass*> passed;
        QStringList expected;
    };
    const Case cases[] = {
        {"blackbox alone", {}, {&blackbox}, {QStringLiteral("Blackbox"), QStringLiteral("Tally")}},
        {"both passed", {}, {&tally, &blackbox}, {QStringLiteral("Tally"), QStringLiteral("Blackbox")}},
        {"tally alone", {}, {&tally}, {QStringLiteral("Tally")}},
        {"phoneauth",
         {&phoneauth},
         {&blackbox},
         {QStringLiteral("Blackbox"), QStringLiteral("Phoneauth"), QStringLiteral("Tally")}},
        {"screenlens first",
         {&screenlens},
         {&blackbox, &screenlens},
         {QStringLiteral("Screenlens"), QStringLiteral("Blackbox"), QStringLiteral("Tally")}},
        {"screenlens not passed",
         {&screenlens},
         {&blackbox},
         {QStringLiteral("Blackbox"), QStringLiteral("Tally")}},
        {"ads",
         {&adsSdk, &adsKit},
         {&blackbox},
         {QStringLiteral("Blackbox"), QStringLiteral("Tally"), QStringLiteral("AdsKit")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (FakeKitClass* kitClass : c.registered)
            LOMKitClassRegistry::registerClass(kitClass);
        auto loom = makeLoom();
        std::vector<LOMKitArgument> kits;
        for (FakeKitClass* kitClass : c.passed)
            kits.emplace_back(kitClass);
        loom->start(kits);
        EXPECT_EQ(names(loom->kitClasses()), c.expected);
        for (FakeKitClass* kitClass : c.registered)
            LOMKitClassRegistry::unregisterClass(kitClass->className());
    }
}

TEST_F(LoomTest, KitObjectsStandForTheirClasses)
{
    auto loom = makeLoom();
    FakeKitObject object(blackbox);
    loom->start({object});
    EXPECT_EQ(names(loom->kitClasses()), (QStringList{QStringLiteral("Blackbox"), QStringLiteral("Tally")}));
    EXPECT_EQ(loom->configurationDictionaryForKit(object), (QVariantMap{{QStringLiteral("a"), 1}}));
}

TEST_F(LoomTest, MisconfigurationRaisesLOMExceptionWithItsMessage)
{
    struct Case
    {
        const char* name;
        std::optional<QVariantMap> info;
        QString reason;
    };
    const Case cases[] = {
        {"no information dictionary", std::nullopt, QStringLiteral("[Loom] Cannot find Info.plist.")},
        {"Loom not a dictionary", QVariantMap{{QStringLiteral("Loom"), QStringLiteral("x")}},
         QStringLiteral("[Loom] Value of Info.plist key \"Loom\" must be a NSDictionary.")},
        {"Loom missing", QVariantMap{},
         QStringLiteral("[Loom] Value of Info.plist key \"Loom\" must be a NSDictionary.")},
        {"APIKey a number",
         QVariantMap{{QStringLiteral("Loom"),
                      QVariantMap{{QStringLiteral("APIKey"), 5}, {QStringLiteral("Kits"), QVariantList{}}}}},
         QStringLiteral("[Loom] Value of Info.plist[Loom][APIKey] must contain your Loom API Key.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto loom = makeLoom(c.info);
        try {
            loom->start({&blackbox});
            ADD_FAILURE() << "no exception";
        } catch (const Exception& exception) {
            EXPECT_EQ(exception.name(), QStringLiteral("LOMException"));
            EXPECT_EQ(exception.reason(), c.reason);
        }
        EXPECT_EQ(blackbox.initializations, 0);
    }
}

TEST_F(LoomTest, MissingKitsOnlyWarns)
{
    auto loom = makeLoom(
        QVariantMap{{QStringLiteral("Loom"), QVariantMap{{QStringLiteral("APIKey"), QStringLiteral("k")}}}});
    test::LogCapture log;
    loom->start({&blackbox});
    EXPECT_TRUE(
        log.contains(QStringLiteral("[Loom] [Loom] Value of Info.plist[Loom][Kits] should be a NSArray.")));
    EXPECT_EQ(blackbox.initializations, 1);
    EXPECT_EQ(loom->configurationDictionaryForKitClass(blackbox), std::nullopt);
}

TEST_F(LoomTest, SomethingThatIsNoKitRaisesAndAnOlderKitIsStarted)
{
    FakeKitClass notAKit(QStringLiteral("Widget"), QString(), false);
    auto loom = makeLoom();
    try {
        loom->start({&blackbox, &notAKit});
        ADD_FAILURE() << "no exception";
    } catch (const Exception& exception) {
        EXPECT_EQ(exception.reason(),
                  QStringLiteral("[Loom] It appears that \"Widget\" is not a valid Loom Kit. Please "
                                 "make sure you only pass Loom Kits to [Loom with:]."));
    }
    EXPECT_EQ(blackbox.initializations, 0);

    FakeLegacyKit legacy;
    FakeKitClass older(QStringLiteral("OldKit"), QString(), false);
    older.legacy = &legacy;
    auto second = makeLoom();
    test::LogCapture log;
    second->start({&older});
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom] Please upgrade to the latest version of \"OldKit\"")));
    EXPECT_EQ(legacy.starts, 1);
    EXPECT_EQ(second->kitVersionsByKitBundleIdentifier().value(QStringLiteral("com.old.kit")).toString(),
              QStringLiteral("0.9"));
}

TEST_F(LoomTest, KitConfigurationAndVersions)
{
    FakeKitClass impostor(QStringLiteral("Impostor"), QStringLiteral("io.loom.sdk.mac"));
    auto loom = makeLoom();
    loom->start({&blackbox, &impostor});
    EXPECT_EQ(loom->configurationDictionaryForKitClass(blackbox), (QVariantMap{{QStringLiteral("a"), 1}}));
    EXPECT_EQ(loom->configurationDictionaryForKitClass(tally), QVariantMap());
    EXPECT_EQ(loom->configurationDictionaryForKitClass(impostor), std::nullopt);
    // The kit core's own version wins over a kit claiming its identifier.
    EXPECT_EQ(loom->kitVersionsByKitBundleIdentifier().value(QStringLiteral("io.loom.sdk.mac")).toString(),
              QStringLiteral("1.6.12"));
}

TEST_F(LoomTest, SettingsArePublishedWholeAndOnlyAsADictionary)
{
    auto loom = makeLoom();
    EXPECT_TRUE(loom->settings().isNull());
    loom->publishSettings(Value(ValueDictionary{{QStringLiteral("app"), Value(ValueDictionary{})}}));
    EXPECT_TRUE(loom->settings().isDictionary());
    loom->publishSettings(Value(QStringLiteral("not settings")));
    EXPECT_TRUE(loom->settings().isNull());
    loom->setDebug(true);
    EXPECT_TRUE(loom->debug());
    loom->setAdvertisingToken(QStringLiteral("ad"));
    EXPECT_EQ(loom->advertisingToken(), QStringLiteral("ad"));
    EXPECT_TRUE(loom->instanceIdentifier().isEmpty());
}

// The shared object at launch, in a process whose information dictionary is misconfigured.
CORVEX_TEST_HELPER(kit_launch_with_bad_info)
{
    const bool supplied = Bundle::supplyInfoDictionary(
        QVariantMap{{QStringLiteral("Loom"), QVariantMap{{QStringLiteral("APIKey"), 7}}}});
    test::LogCapture log;
    const bool started = Loom::startAtLaunch({});
    std::cout << (supplied ? "supplied " : "late ") << (started ? "started " : "refused ")
              << (log.contains(QStringLiteral("must contain your Loom API Key")) ? "logged" : "silent")
              << std::endl;
    return 0;
}

CORVEX_TEST_HELPER(kit_launch_with_good_info)
{
    const bool supplied = Bundle::supplyInfoDictionary(goodLoomInfo());
    const bool started = Loom::startAtLaunch({});
    const bool late = Bundle::supplyInfoDictionary(std::nullopt);
    std::cout << (supplied ? "supplied " : "late ") << (started ? "started " : "refused ")
              << Bundle::mainBundle().identifier().toStdString() << (late ? " again" : " once") << std::endl;
    return 0;
}

TEST(LoomLaunch, AMisconfiguredLaunchIsLoggedAndTheApplicationRunsOn)
{
    auto helper = test::HelperProcess::start(QStringLiteral("kit_launch_with_bad_info"));
    ASSERT_TRUE(helper);
    EXPECT_EQ(helper->readLine(60).value_or("none"), QByteArray("supplied refused logged"));
    EXPECT_EQ(helper->wait(), 0);
}

TEST(LoomLaunch, TheSuppliedInformationDictionaryIsReadOncePerProcess)
{
    auto helper = test::HelperProcess::start(QStringLiteral("kit_launch_with_good_info"));
    ASSERT_TRUE(helper);
    EXPECT_EQ(helper->readLine(60).value_or("none"),
              QByteArray("supplied started com.tallowfen.corvex once"));
    EXPECT_EQ(helper->wait(), 0);
}

TEST_F(LoomTest, TheShippedInformationDictionaryConfiguresTheKit)
{
    // A shipped build without a string API key would lose the kit at every launch.
    auto loom = makeLoom(Bundle::mainBundle().infoDictionary());
    EXPECT_NO_THROW(loom->loomConfig());
    EXPECT_FALSE(loom->APIKey().isEmpty());
    EXPECT_EQ(loom->configurationDictionaryForKitClass(blackbox), QVariantMap());
}
