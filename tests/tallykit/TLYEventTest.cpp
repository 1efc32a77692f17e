#include "tallykit/TLYEvent.h"
#include "platform/core/BlockOperation.h"
#include "tallykit/TLYActivity.h"
#include "tallykit/TLYSettings.h"
#include "tests/support/LogCapture.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvex;

namespace {

Value tallyDictionary(std::initializer_list<ValueDictionary::Entry> entries)
{
    return Value(ValueDictionary(entries));
}

} // namespace

TEST(TLYAttributeDictionary, ValidatesCutsAndConvertsAttributes)
{
    const QString longKey(150, u'k');
    // A pair of surrogates straddling unit 100: the cut keeps 99 units rather than half a pair.
    const QString straddling = QString(99, u'a') + QStringLiteral("\U0001F600") + QStringLiteral("tail");
    struct Case
    {
        const char* what;
        Value value;
        Value key;
        std::optional<Value> stored; // nullopt: nothing stored
        const char* message;         // part of the logged line, or nullptr for none
    };
    const Case cases[] = {
        {"a string", Value(QStringLiteral("v")), Value(QStringLiteral("k")), Value(QStringLiteral("v")),
         nullptr},
        {"a long key", Value(1), Value(longKey), Value(1), "Maximum length"},
        {"an array value", Value(ValueArray{Value(1)}), Value(QStringLiteral("k")), std::nullopt,
         "values must be of type NSString or NSNumber"},
        {"a number key", Value(1), Value(7), std::nullopt, "keys must be of type NSString"},
        {"NaN", Value(std::nan("")), Value(QStringLiteral("k")), std::nullopt, nullptr},
        {"infinity", Value(std::numeric_limits<double>::infinity()), Value(QStringLiteral("k")), std::nullopt,
         nullptr},
        {"a null value", Value(), Value(QStringLiteral("k")), std::nullopt, nullptr},
        {"a surrogate pair at the cut", Value(straddling), Value(QStringLiteral("k")),
         Value(QString(99, u'a')), "Truncating to 100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::LogCapture log;
        TLYAttributeDictionary attributes;
        attributes.addAttribute(c.value, c.key);
        if (c.stored) {
            ASSERT_EQ(attributes.rawDictionary().size(), 1);
            EXPECT_EQ(attributes.rawDictionary().entryAt(0).second, *c.stored);
            EXPECT_LE(attributes.rawDictionary().entryAt(0).first.size(), 100);
        } else {
            EXPECT_EQ(attributes.rawDictionary().size(), 0);
        }
        if (c.message)
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.message)))
                << log.lines().join(u'\n').toStdString();
        else
            EXPECT_FALSE(log.contains(QStringLiteral("[Tally]")));
        // Whatever was stored serialises to valid UTF-8 JSON.
        EXPECT_TRUE(JsonText::parse(JsonText::serialize(attributes.dictionaryRepresentation())));
    }
}

TEST(TLYAttributeDictionary, KeepsTwentyOneEntriesAndNaNRemovesAKey)
{
    ValueDictionary many;
    for (int index = 0; index < 25; ++index)
        many.insert(QStringLiteral("key%1").arg(index, 2, 10, QLatin1Char('0')), Value(index));
    test::LogCapture log;
    TLYAttributeDictionary attributes{Value(many)};
    EXPECT_EQ(attributes.rawDictionary().size(), 21);
    EXPECT_EQ(log.count(QStringLiteral("Maximum number of Event attributes exceeded")), 4);
    EXPECT_TRUE(attributes.rawDictionary().contains(QStringLiteral("key20")));
    EXPECT_FALSE(attributes.rawDictionary().contains(QStringLiteral("key21")));

    TLYAttributeDictionary small;
    small.addAttribute(Value(3), Value(QStringLiteral("n")));
    small.addAttribute(Value(std::nan("")), Value(QStringLiteral("n")));
    EXPECT_FALSE(small.rawDictionary().contains(QStringLiteral("n")));
}

TEST(TLYAttributeDictionary, BooleansAndPrices)
{
    struct Case
    {
        Value value;
        bool price;
        Value stored; // null: nothing
    };
    const Case cases[] = {
        {Value(0), false, Value(QStringLiteral("false"))},
        {Value(true), false, Value(QStringLiteral("true"))},
        {Value(), false, Value()},
        {Value(9.99), true, Value(qint64(9990000))},
        {Value(1e200), true, Value()},
        {Value(), true, Value()},
    };
    for (const Case& c : cases) {
        TLYAttributeDictionary attributes;
        if (c.price)
            attributes.addPriceAttribute(c.value, QStringLiteral("p"));
        else
            attributes.addBooleanAttribute(c.value, QStringLiteral("p"));
        EXPECT_EQ(attributes.rawDictionary().value(QStringLiteral("p")), c.stored);
    }
}

TEST(TLYEvent, NamesFlushesAndDictionaryForms)
{
    struct Case
    {
        const char* notification;
        const char* name;
        bool flush;
    };
    const Case cases[] = {
        {"NSApplicationWillTerminateNotification", "app_terminated", false},
        {"NSApplicationWillResignActiveNotification", "app_became_inactive", true},
        {"NSApplicationDidBecomeActiveNotification", "app_became_active", true},
        {"SomethingElse", "unknown-notification", false},
    };
    for (const Case& c : cases) {
        auto event = TLYLifecycleEvent::eventWithNotification(QString::fromLatin1(c.notification));
        EXPECT_EQ(event->name(), QString::fromLatin1(c.name));
        EXPECT_EQ(event->triggersFlush(), c.flush) << c.name;
        EXPECT_EQ(event->dictionaryRepresentation().value(QStringLiteral("eventId")).toString(),
                  event->identifier());
    }
    EXPECT_TRUE(TLYLifecycleEvent::installEvent()->triggersFlush());
    EXPECT_FALSE(TLYLifecycleEvent::appLaunchedEvent()->triggersFlush());

    const QDateTime crashed = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    TLYCrashEvent crash(crashed, 0);
    EXPECT_EQ(crash.dictionaryRepresentation().value(QStringLiteral("crash_state")).toString(),
              QStringLiteral("unknown"));
    EXPECT_EQ(crash.timestamp(), crashed);

    auto purchase = TLYPredefinedEvent::purchaseEvent(Value(9.99), Value(QStringLiteral("EUR")), Value(true),
                                                      Value(), Value(), Value(QStringLiteral("id")),
                                                      tallyDictionary({{QStringLiteral("c"), Value(1)}}));
    const Value form = purchase->dictionaryRepresentation();
    EXPECT_EQ(form.value(QStringLiteral("predefined_type")).toString(), QStringLiteral("purchase"));
    EXPECT_EQ(form.value(QStringLiteral("predefined_attributes")).value(QStringLiteral("item_price")),
              Value(qint64(9990000)));
    EXPECT_EQ(form.value(QStringLiteral("predefined_attributes")).value(QStringLiteral("success")).toString(),
              QStringLiteral("true"));
    EXPECT_EQ(form.value(QStringLiteral("custom_attributes")).value(QStringLiteral("c")), Value(1));
}

TEST(TLYEventFilter, SamplesLifecycleEventsByInstallation)
{
    EXPECT_EQ(TLYEventFilter::javaHashCodeForString(QStringLiteral("abc")), 96354);
    EXPECT_EQ(TLYEventFilter::javaHashCodeForString(QString()), 0);
    TLYEventFilter filter;
    auto launched = TLYLifecycleEvent::appLaunchedEvent();
    TLYCustomEvent custom(QStringLiteral("c"), Value());
    // "abc" hashes to 96354: kept by factor 2 and 3, dropped by 5 and 10.
    const std::optional<QString> id = QStringLiteral("abc");
    EXPECT_FALSE(filter.shouldDiscardEvent(launched.get(), std::nullopt, id, 1));
    EXPECT_FALSE(filter.shouldDiscardEvent(launched.get(), std::nullopt, id, 0));
    EXPECT_FALSE(filter.shouldDiscardEvent(launched.get(), std::nullopt, id, 3));
    EXPECT_TRUE(filter.shouldDiscardEvent(launched.get(), std::nullopt, id, 10));
    EXPECT_FALSE(filter.shouldDiscardEvent(launched.get(), QStringLiteral("beta"), id, 10));
    EXPECT_FALSE(filter.shouldDiscardEvent(&custom, std::nullopt, id, 10));
    EXPECT_TRUE(filter.shouldDiscardEvent(nullptr, std::nullopt, id, 1));
    // A negative hash keeps its sign in the remainder and is still dropped unless 0.
    EXPECT_LT(TLYEventFilter::javaHashCodeForString(QStringLiteral("polygenelubricants")), 0);
}

TEST(TLYSettings, DefaultsAndConversions)
{
    const TLYSettings none;
    EXPECT_FALSE(none.valid());
    const TLYSettings empty{Value(ValueDictionary())};
    EXPECT_TRUE(empty.valid());
    for (const TLYSettings* settings : {&none, &empty}) {
        EXPECT_EQ(settings->maximumPayloadSize(), 8000);
        EXPECT_EQ(settings->maxPendingSendFiles(), 100);
        EXPECT_EQ(settings->flushInterval(), 0.0);
        EXPECT_EQ(settings->samplingRate(), 1);
        EXPECT_EQ(settings->defaultUploadTimeout(), 21600.0);
        EXPECT_EQ(settings->lowPowerUploadTimeout(), 3600.0);
        EXPECT_TRUE(settings->shouldCollectAnalytics());
        EXPECT_EQ(settings->tallyURL().path(), QStringLiteral("/spi/v2/events"));
    }
    Result<Value> parsed = JsonText::parse(
        R"({"features":{"collect_analytics":"0"},"analytics":{"max_byte_size_per_file":"500","flush_interval_secs":60}})");
    ASSERT_TRUE(parsed);
    const TLYSettings given{parsed.value()};
    EXPECT_FALSE(given.shouldCollectAnalytics());
    EXPECT_EQ(given.maximumPayloadSize(), 500);
    EXPECT_EQ(given.flushInterval(), 60.0);

    // Numbers past what a count holds are cut to it; one that is not finite counts as absent.
    ValueDictionary analytics;
    analytics.insert(QStringLiteral("max_pending_send_file_count"), Value(1e300));
    analytics.insert(QStringLiteral("sampling_rate"), Value(-1e300));
    analytics.insert(QStringLiteral("flush_interval_secs"), Value(std::numeric_limits<double>::infinity()));
    analytics.insert(QStringLiteral("upload_timeout_secs"), Value(std::numeric_limits<double>::quiet_NaN()));
    ValueDictionary huge;
    huge.insert(QStringLiteral("analytics"), Value(analytics));
    const TLYSettings outsized{Value(huge)};
    EXPECT_EQ(outsized.maxPendingSendFiles(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(outsized.samplingRate(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(outsized.flushInterval(), 0.0);
    EXPECT_EQ(outsized.defaultUploadTimeout(), 21600.0);
}

TEST(TLYMetadata, BetaTokensAndTheRecord)
{
    struct Case
    {
        std::optional<QString> token;
        std::optional<QString> unwrapped;
    };
    const Case cases[] = {
        {QStringLiteral("2:secret"), QStringLiteral("secret")},
        {QStringLiteral("secret"), std::nullopt},
        {QStringLiteral("3:secret"), std::nullopt},
        {QStringLiteral("2:a:b"), std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TLYMetadata::unwrapBetaToken(c.token), c.unwrapped);

    test::TallyRegistry registry;
    TLYMetadata metadata(registry.loom, std::nullopt);
    const Value first = metadata.dictionaryRepresentationWithStartTime(100);
    const Value second = metadata.dictionaryRepresentationWithStartTime(200);
    EXPECT_FALSE(first.toDictionary().contains(QStringLiteral("advertising_id")));
    EXPECT_FALSE(first.toDictionary().contains(QStringLiteral("beta_tester_token")));
    EXPECT_EQ(first.value(QStringLiteral("platform")).toString(), QStringLiteral("Mac"));
    EXPECT_EQ(first.value(QStringLiteral("platform_code")).toInteger(-1), 0);
    EXPECT_EQ(first.value(QStringLiteral("model")), first.value(QStringLiteral("machine")));
    EXPECT_EQ(first.value(QStringLiteral("api_key")).toString(), QStringLiteral("tally-test-key"));
    ValueDictionary a = first.toDictionary();
    ValueDictionary b = second.toDictionary();
    a.remove(QStringLiteral("started_at"));
    b.remove(QStringLiteral("started_at"));
    EXPECT_EQ(a, b);
}

TEST(TLYActivity, CountsDisablementsAndEndsOnce)
{
    const int sudden = ProcessActivity::suddenTerminationDisablements();
    const int automatic = ProcessActivity::automaticTerminationDisablements();
    {
        auto activity = TLYActivity::beginActivity(QStringLiteral("test"), 0xC000);
        EXPECT_EQ(ProcessActivity::suddenTerminationDisablements(), sudden + 1);
        EXPECT_EQ(ProcessActivity::automaticTerminationDisablements(), automatic + 1);
        activity->end();
        activity->end();
        EXPECT_EQ(ProcessActivity::suddenTerminationDisablements(), sudden);
        EXPECT_EQ(ProcessActivity::automaticTerminationDisablements(), automatic);
        // Released unended: it ends then.
        auto released = TLYActivity::beginActivity(QStringLiteral("released"), 0xC0FF);
        EXPECT_TRUE(ProcessActivity::anyOpen());
    }
    EXPECT_EQ(ProcessActivity::suddenTerminationDisablements(), sudden);
    EXPECT_TRUE(ProcessActivity::waitWhileOpen(0.0) || sudden + automatic > 0);

    // An activity operation stays open while the work it depends on waits.
    auto work = std::make_shared<BlockOperation>([] {});
    auto holder = TLYActivityOperation::operationByStartingActivityName(QStringLiteral("hold"), 0xC000);
    holder->addDependency(work);
    EXPECT_TRUE(holder->activity()->isOpen());
    work->start();
    holder->start();
    EXPECT_FALSE(holder->activity()->isOpen());
}

TEST(TLYApplication, ExtensionEntries)
{
    struct Case
    {
        QVariant extension;
        const char* message;
    };
    QVariantMap lacking;
    lacking.insert(QStringLiteral("Other"), 1);
    const Case cases[] = {
        {QVariant(), nullptr},
        {QVariant(lacking), "NSExtensionPointIdentifier Info.plist entry is mal-formed"},
        {QVariant(QStringLiteral("text")), "NSExtension Info.plist entry is mal-formed"},
    };
    for (const Case& c : cases) {
        QVariantMap info;
        if (c.extension.isValid())
            info.insert(QStringLiteral("NSExtension"), c.extension);
        test::LogCapture log;
        EXPECT_FALSE(TLYApplication(info).isExtension());
        if (c.message)
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.message)));
        else
            EXPECT_TRUE(log.lines().isEmpty());
    }
}
