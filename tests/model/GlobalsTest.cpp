#include "model/Globals.h"
#include "model/LocalizedStrings.h"
#include "model/NonFatalErrorRecorder.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::LogCapture;
using corvex::test::ScopedVirtualTime;

namespace {

// Counts the appearance notifications and where they arrive.
class AppearanceObserver
{
public:
    AppearanceObserver()
    {
        mToken = NotificationCenter::defaultCenter().addObserver(
            Globals::AppearanceSettingsChangedNotification, nullptr,
            [this](const NotificationCenter::Notification& n) {
                ++mCount;
                mOnMainThread = mOnMainThread && MainQueue::isMainThread();
                mSender = n.sender;
                mUserInfoEmpty = mUserInfoEmpty && n.userInfo.isEmpty();
            });
    }
    ~AppearanceObserver() { NotificationCenter::defaultCenter().removeObserver(mToken); }

    int count() const { return mCount.load(); }
    bool allOnMainThread() const { return mOnMainThread; }
    bool plain() const { return mSender == nullptr && mUserInfoEmpty; }

private:
    NotificationCenter::ObserverToken mToken;
    std::atomic<int> mCount{0};
    bool mOnMainThread = true;
    const void* mSender = nullptr;
    bool mUserInfoEmpty = true;
};

// What a second process (or the next launch) would read from the settings file.
std::unique_ptr<UserDefaults> reopenedDefaults()
{
    return std::make_unique<UserDefaults>(UserDefaults::standardFilePath());
}

class RecordingRecorder : public NonFatalErrorRecorder
{
public:
    void recordError(const Error& error) override { errors.push_back(error); }
    std::vector<Error> errors;
};

class RecordingDelegate : public ApplicationDelegate
{
public:
    void markPersistentAppStateDirty() override { ++dirtyMarks; }
    void updatePersistentAppStateNow() override { ++immediateUpdates; }
    int dirtyMarks = 0;
    int immediateUpdates = 0;
};

} // namespace

// Font size factor

TEST(GlobalsFontSizeFactor, ReadsFiveWithoutAStoredValueAndClampsStoredOnes)
{
    EXPECT_EQ(Globals::fontSizeFactor(), 5);

    const struct
    {
        QVariant stored;
        int expected;
    } cases[] = {
        {qint64(12), 7},
        {qint64(1), 3},
        {qint64(3), 3},
        {qint64(7), 7},
        {qint64(4), 4},
        {qint64(0), 3},
        {qint64(-9), 3},
        {qint64(8), 7},
        {6.9, 6},
        {true, 3},
        {QStringLiteral("6"), 6},
        {QStringLiteral("abc"), 5},
        {QVariantList{1}, 5},
        {QVariant::fromValue(nullptr), 5},
        {qint64(std::numeric_limits<qint64>::min()), 3},
        {qint64(std::numeric_limits<qint64>::max()), 7},
    };
    for (const auto& c : cases) {
        UserDefaults::standardUserDefaults().setObject(Globals::FontSizeFactorKey, c.stored);
        Globals::resetCachesForTesting();
        EXPECT_EQ(Globals::fontSizeFactor(), c.expected) << c.stored.toString().toStdString();
    }
}

TEST(GlobalsFontSizeFactor, KeepsTheFirstReadUntilChangedThroughGlobals)
{
    UserDefaults::standardUserDefaults().setInteger(Globals::FontSizeFactorKey, 4);
    EXPECT_EQ(Globals::fontSizeFactor(), 4);
    // Cached: a write that goes around Globals is not seen.
    UserDefaults::standardUserDefaults().setInteger(Globals::FontSizeFactorKey, 6);
    EXPECT_EQ(Globals::fontSizeFactor(), 4);
    Globals::changeFontSizeFactor(6);
    EXPECT_EQ(Globals::fontSizeFactor(), 6);
}

TEST(GlobalsFontSizeFactor, ChangeClampsStoresAndPostsOncePerChange)
{
    AppearanceObserver observer;
    Globals::changeFontSizeFactor(9);
    EXPECT_EQ(Globals::fontSizeFactor(), 7);
    EXPECT_EQ(UserDefaults::standardUserDefaults().integerForKey(Globals::FontSizeFactorKey), 7);
    EXPECT_EQ(observer.count(), 1);
    EXPECT_TRUE(observer.plain());

    // 7 again, and 100 which clamps to 7: nothing changes, nothing is posted.
    Globals::changeFontSizeFactor(7);
    Globals::changeFontSizeFactor(100);
    EXPECT_EQ(observer.count(), 1);

    Globals::changeFontSizeFactor(-100);
    EXPECT_EQ(Globals::fontSizeFactor(), 3);
    EXPECT_EQ(observer.count(), 2);
    Globals::changeFontSizeFactor(std::numeric_limits<qint64>::max());
    EXPECT_EQ(Globals::fontSizeFactor(), 7);
    EXPECT_EQ(observer.count(), 3);
    EXPECT_TRUE(observer.allOnMainThread());

    // Five is the default in effect: choosing it first changes nothing visible.
    Globals::resetCachesForTesting();
    UserDefaults::standardUserDefaults().removeObjectForKey(Globals::FontSizeFactorKey);
    Globals::changeFontSizeFactor(5);
    EXPECT_EQ(observer.count(), 3);
    EXPECT_EQ(UserDefaults::standardUserDefaults().integerForKey(Globals::FontSizeFactorKey), 5);
}

TEST(GlobalsFontSizeFactor, PersistsForTheNextLaunch)
{
    Globals::changeFontSizeFactor(6);
    EXPECT_EQ(reopenedDefaults()->integerForKey(Globals::FontSizeFactorKey), 6);

    // The next launch: a fresh store and no cached factor.
    UserDefaults::resetStandardUserDefaultsForTesting();
    Globals::resetCachesForTesting();
    EXPECT_EQ(Globals::fontSizeFactor(), 6);
}

TEST(GlobalsFontSizeFactor, ConcurrentChangesPostOncePerChangeOnTheMainThread)
{
    ScopedVirtualTime time;
    AppearanceObserver observer;
    // Every thread asks for 3; only the first write changes the factor (from 5).
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([] { Globals::changeFontSizeFactor(3); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(observer.count(), 0) << "posted off the main thread";
    time.advance(0);
    EXPECT_EQ(observer.count(), 1);
    EXPECT_TRUE(observer.allOnMainThread());
    EXPECT_EQ(Globals::fontSizeFactor(), 3);
}

// High-contrast text

TEST(GlobalsHighContrast, PostsOnlyWhenTheStoredValueChanges)
{
    AppearanceObserver observer;
    EXPECT_FALSE(Globals::highContrastText());
    Globals::setHighContrastText(false);
    EXPECT_EQ(observer.count(), 0);
    EXPECT_FALSE(UserDefaults::standardUserDefaults().containsKey(Globals::HighContrastTextKey));

    Globals::setHighContrastText(true);
    EXPECT_TRUE(Globals::highContrastText());
    EXPECT_EQ(observer.count(), 1);
    Globals::setHighContrastText(true);
    EXPECT_EQ(observer.count(), 1);
    Globals::setHighContrastText(false);
    EXPECT_FALSE(Globals::highContrastText());
    EXPECT_EQ(observer.count(), 2);
    EXPECT_TRUE(observer.plain());
}

TEST(GlobalsHighContrast, PersistsAndReadsWhatOthersStored)
{
    Globals::setHighContrastText(true);
    EXPECT_TRUE(reopenedDefaults()->boolForKey(Globals::HighContrastTextKey));

    // Read afresh every time (no cache): a value stored by someone else counts at once.
    UserDefaults::standardUserDefaults().setBool(Globals::HighContrastTextKey, false);
    EXPECT_FALSE(Globals::highContrastText());
    AppearanceObserver observer;
    Globals::setHighContrastText(false);
    EXPECT_EQ(observer.count(), 0);
}

TEST(GlobalsHighContrast, AChangeOffTheMainThreadReachesObserversThroughTheMainQueue)
{
    ScopedVirtualTime time;
    AppearanceObserver observer;
    std::thread([] { Globals::setHighContrastText(true); }).join();
    EXPECT_TRUE(Globals::highContrastText());
    EXPECT_EQ(observer.count(), 0);
    time.advance(0);
    EXPECT_EQ(observer.count(), 1);
    EXPECT_TRUE(observer.allOnMainThread());
}

// Storage choices

TEST(GlobalsStorageChoices, DefaultToNoAndAllowOnlyTheTemporaryLocation)
{
    EXPECT_FALSE(Globals::userHasOptedForICloud());
    EXPECT_FALSE(Globals::userHasOptedForDropbox());
    EXPECT_TRUE(Globals::userHasAllowedLocation(0));
    EXPECT_FALSE(Globals::userHasAllowedLocation(1));
    EXPECT_FALSE(Globals::userHasAllowedLocation(2));
    EXPECT_FALSE(Globals::userHasAllowedLocation(3));
    EXPECT_FALSE(Globals::userHasAllowedLocation(4));
}

TEST(GlobalsStorageChoices, OptingIsWrittenAtOnceAndAnnouncedByTheUserDefaults)
{
    ScopedVirtualTime time;
    int defaultsChanges = 0;
    AppearanceObserver appearance;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, nullptr,
        [&](const NotificationCenter::Notification&) { ++defaultsChanges; });

    Globals::optForICloud(true);
    EXPECT_TRUE(Globals::userHasOptedForICloud());
    EXPECT_TRUE(Globals::userHasAllowedLocation(2));
    EXPECT_FALSE(Globals::userHasAllowedLocation(3));
    EXPECT_TRUE(reopenedDefaults()->boolForKey(Globals::CloudStorageChoiceKey));
    time.advance(0);
    EXPECT_EQ(defaultsChanges, 1);

    Globals::optForDropbox(true);
    Globals::optForICloud(false);
    EXPECT_TRUE(Globals::userHasAllowedLocation(3));
    EXPECT_FALSE(Globals::userHasAllowedLocation(2));
    const auto reopened = reopenedDefaults();
    EXPECT_TRUE(reopened->boolForKey(Globals::DropboxStorageChoiceKey));
    EXPECT_FALSE(reopened->boolForKey(Globals::CloudStorageChoiceKey));
    time.advance(0);
    EXPECT_GE(defaultsChanges, 2);
    // Storage choices are not appearance settings.
    EXPECT_EQ(appearance.count(), 0);
    NotificationCenter::defaultCenter().removeObserver(token);
}

// Palette and fonts

TEST(GlobalsPalette, GivesTheFixedColoursExactly)
{
    const auto expectRGB = [](const PlatformColor& c, double r, double g, double b, const char* what) {
        EXPECT_EQ(c.redComponent(), r) << what;
        EXPECT_EQ(c.greenComponent(), g) << what;
        EXPECT_EQ(c.blueComponent(), b) << what;
        EXPECT_EQ(c.alphaComponent(), 1.0) << what;
    };
    const auto w = [](float level) { return double(level); };
    expectRGB(Globals::colorGrayD7DEE4(), 215 / 255.0, 222 / 255.0, 228 / 255.0, "D7DEE4");
    expectRGB(Globals::colorGray91(), 232 / 255.0, 232 / 255.0, 233 / 255.0, "91");
    expectRGB(Globals::colorGray93(), 233 / 255.0, 237 / 255.0, 238 / 255.0, "93");
    expectRGB(Globals::colorGray95(), w(0.95f), w(0.95f), w(0.95f), "95");
    expectRGB(Globals::colorGray58(), w(0.58f), w(0.58f), w(0.58f), "58");
    expectRGB(Globals::colorGrayDarkText(), 156 / 255.0, 164 / 255.0, 167 / 255.0, "dark text");
    expectRGB(Globals::colorGray46(), w(0.46f), w(0.46f), w(0.46f), "46");
    expectRGB(Globals::colorGray26(), w(0.26f), w(0.26f), w(0.26f), "26");
    expectRGB(Globals::colorGray23(), 57 / 255.0, 58 / 255.0, 58 / 255.0, "23");
    expectRGB(Globals::colorBlack(), 0, 0, 0, "black");
    expectRGB(Globals::colorLightGray(), 2 / 3.0, 2 / 3.0, 2 / 3.0, "light gray");
    expectRGB(Globals::colorWhite(), 1, 1, 1, "white");
    expectRGB(Globals::colorBrightGreen(), 32 / 255.0, 228 / 255.0, 191 / 255.0, "bright green");
    expectRGB(Globals::colorNiceGreen(), w(0.231f), w(0.812f), w(0.714f), "nice green");
    expectRGB(Globals::colorDollarGreen(), 0, w(0.9f), w(0.76f), "dollar green");
}

TEST(GlobalsFonts, AnswerTheStandInFacesAtTheAskedSize)
{
    LogCapture log;
    const struct
    {
        PlatformFont font;
        const char* face;
        const char* style;
    } cases[] = {
        {Globals::fontAvenirMedium(13), "Avenir Medium", "Medium"},
        {Globals::fontAvenirLight(13), "Avenir Light", "Light"},
        {Globals::fontAvenirBook(13), "Avenir Book", "Regular"},
        {Globals::fontAvenirHeavy(13), "Avenir Heavy", "Heavy"},
        {Globals::fontAvenirOblique(13), "Avenir Oblique", "Italic"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.font.isFallback()) << c.face;
        EXPECT_EQ(c.font.faceName(), c.face);
        EXPECT_EQ(c.font.familyName(), "Lato") << c.face;
        EXPECT_TRUE(c.font.styleName().contains(c.style))
            << c.face << ": " << c.font.styleName().toStdString();
        EXPECT_EQ(c.font.pointSize(), 13.0);
    }
    const PlatformFont fallback = Globals::fallbackFont(9.5);
    EXPECT_EQ(fallback.faceName(), "Helvetica");
    EXPECT_EQ(fallback.pointSize(), 9.5);
    EXPECT_FALSE(log.contains("Assertion failure")) << log.lines().join('\n').toStdString();
}

// Without any installed font every face is missing: each operation logs its assertion line
// once and answers the fallback at the asked size.
CORVEX_TEST_HELPER(globals_fonts_without_fonts)
{
    // Fontconfig reads its configuration when the first font is asked for, which is after
    // this point in a helper.
    qputenv("FONTCONFIG_FILE", args.value(0).toLocal8Bit());
    LogCapture log;
    const PlatformFont first = Globals::fontAvenirMedium(12);
    const PlatformFont second = Globals::fontAvenirMedium(20);
    const PlatformFont oblique = Globals::fontAvenirOblique(8);
    std::printf("fallback=%d,%d,%d sizes=%g,%g,%g medium=%d oblique=%d\n", int(first.isFallback()),
                int(second.isFallback()), int(oblique.isFallback()), first.pointSize(), second.pointSize(),
                oblique.pointSize(), log.count("ERROR: Assertion failure: +[Globals fontAvenirMedium:]"),
                log.count("ERROR: Assertion failure: +[Globals fontAvenirOblique:]"));
    std::fflush(stdout);
    return 0;
}

TEST(GlobalsFonts, AMissingFaceLogsItsOperationOnceAndFallsBack)
{
    const QString config = test::testDir() + "/no-fonts.conf";
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?>\n<fontconfig><cachedir>" + test::testDir().toUtf8() +
               "/fc-cache</cachedir></fontconfig>\n");
    file.close();
    auto helper = test::HelperProcess::start("globals_fonts_without_fonts", {config});
    ASSERT_TRUE(helper);
    const auto line = helper->readLine();
    EXPECT_EQ(helper->wait(), 0);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, "fallback=1,1,1 sizes=12,20,8 medium=1 oblique=1");
}

// Screen

TEST(GlobalsScreen, ScaleComesFromTheScreenUnlessOverridden)
{
    const double screen = Globals::screenScale();
    EXPECT_GE(screen, 1.0);
    EXPECT_TRUE(std::isfinite(screen));
    Globals::setScreenScaleOverride(2.0);
    EXPECT_EQ(Globals::screenScale(), 2.0);
    Globals::setScreenScaleOverride(std::nan(""));
    EXPECT_EQ(Globals::screenScale(), screen);
    Globals::setScreenScaleOverride(3.0);
    Globals::setScreenScaleOverride(0);
    EXPECT_EQ(Globals::screenScale(), screen);
}

// Localised texts

TEST(GlobalsLocalizedText, LooksUpTheTableThenTheDefaultThenTheKey)
{
    EXPECT_EQ(Globals::normalLocalizedStringForKey("Choice.Close", QString()), "Close");
    EXPECT_EQ(Globals::normalLocalizedStringForKey("Choice.Delete", "ignored default"), "Delete");
    EXPECT_EQ(Globals::normalLocalizedStringForKey("mac:Error:FailedToOpenFile", "Failed to open file"),
              "Failed to open file");
    EXPECT_EQ(Globals::normalLocalizedStringForKey("No.Such.Key", QString()), "No.Such.Key");
    EXPECT_EQ(Globals::normalLocalizedStringForKey("No.Such.Key", ""), "No.Such.Key");
    EXPECT_EQ(Globals::normalLocalizedStringForKey(QString(), "Fallback"), "Fallback");
    EXPECT_TRUE(Globals::normalLocalizedStringForKey(QString(), QString()).isEmpty());
}

TEST(GlobalsLocalizedText, TheStringTableHoldsTheKeysUsedWithoutDefaults)
{
    const LocalizedStrings& table = LocalizedStrings::mainTable();
    for (const char* key : {"Choice.Add",
                            "Choice.Cancel",
                            "Choice.Change",
                            "Choice.Close",
                            "Choice.CopyHere",
                            "Choice.CopyInside",
                            "Choice.CreateLink",
                            "Choice.Delete",
                            "Choice.MoveHere",
                            "Choice.MoveInside",
                            "Choice.RemoveIcon",
                            "Choice.Search",
                            "ConflictDialog:AcceptCopying",
                            "ConflictDialog:Message",
                            "ConflictDialog:Title",
                            "DialogTitle.Oops",
                            "DocumentOpeningFailedFromICloud:Message",
                            "GenericDocumentOpeningFailedDialog:Message",
                            "IdeaEditorTab.Color",
                            "IdeaEditorTab.Icon",
                            "IdeaEditorTab.Text",
                            "Label.Created",
                            "Label.Element",
                            "Label.Elements",
                            "Label.Modified",
                            "Search:NoMatches"}) {
        EXPECT_TRUE(table.containsKey(key)) << key;
        EXPECT_FALSE(table.stringForKey(key, QString()).isEmpty()) << key;
    }
    // The drop choices are told apart by their texts, so those must differ.
    QSet<QString> choices;
    for (const char* key : {"Choice.MoveHere", "Choice.CopyHere", "Choice.MoveInside", "Choice.CopyInside",
                            "Choice.CreateLink", "Choice.Cancel", "Choice.Delete"})
        choices.insert(table.stringForKey(key, QString()));
    EXPECT_EQ(choices.size(), 7);
}

TEST(GlobalsLocalizedText, SoftHyphenationPointsJoinOrBreakTheWord)
{
    EXPECT_EQ(Globals::normalLocalizedStringForKey("Test.Unknown", "Gedanken//landkarte"),
              "Gedankenlandkarte");
    EXPECT_EQ(Globals::narrowLocalizedStringForKey("Test.Unknown", "Gedanken//landkarte"),
              "Gedanken-\nlandkarte");
    EXPECT_EQ(Globals::normalUppercaseStringForKey("Test.Unknown", "Gedanken//landkarte"),
              "GEDANKENLANDKARTE");
    EXPECT_EQ(Globals::normalLocalizedStringForKey("Test.Unknown", "a//b//c d"), "abc d");
    EXPECT_EQ(Globals::narrowLocalizedStringForKey("Test.Unknown", "a//b//c d"), "a-\nb-\nc d");
    // Three slashes: the first two are the mark, the third stays.
    EXPECT_EQ(Globals::normalLocalizedStringForKey("Test.Unknown", "x///y"), "x/y");
    EXPECT_EQ(Globals::narrowLocalizedStringForKey("Test.Unknown", "no marks"), "no marks");
    EXPECT_EQ(Globals::normalUppercaseStringForKey("Choice.Close", QString()), "CLOSE");
    EXPECT_EQ(Globals::narrowLocalizedStringForKey("Choice.Close", QString()), "Close");
}

// Instance, time, idle

TEST(GlobalsInstance, IsMadeOnceFromTheWallClockWithSixDecimals)
{
    Globals::setWallClock([] { return 1796638500.123456; });
    const QString first = Globals::appInstance();
    EXPECT_EQ(first, "MAC_1796638500.123456");
    Globals::setWallClock([] { return 42.0; });
    EXPECT_EQ(Globals::appInstance(), first);
    Globals::setWallClock({});
}

TEST(GlobalsInstance, IsTheSameForEveryThreadThatAsksFirst)
{
    std::vector<std::thread> threads;
    std::vector<QString> seen(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&seen, i] { seen[i] = Globals::appInstance(); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(QRegularExpression("^MAC_\\d+\\.\\d{6}$").match(seen[0]).hasMatch()) << seen[0].toStdString();
    for (const QString& s : seen)
        EXPECT_EQ(s, seen[0]);
    EXPECT_EQ(Globals::appInstance(), seen[0]);
}

TEST(GlobalsTime, MillisecondsAreWholeSecondsTimesAThousand)
{
    double now = 1796638500.2;
    Globals::setWallClock([&now] { return now; });
    EXPECT_EQ(Globals::secondsSince1970(), 1796638500.2);
    const qint64 first = Globals::currentTimeMillis();
    now = 1796638500.9;
    EXPECT_EQ(Globals::currentTimeMillis(), first);
    EXPECT_EQ(first, qint64(1796638500) * 1000);
    now = 1796638501.0;
    EXPECT_EQ(Globals::currentTimeMillis(), qint64(1796638501) * 1000);
    now = std::nan("");
    EXPECT_EQ(Globals::currentTimeMillis(), 0);
    now = 1e300;
    EXPECT_EQ(Globals::currentTimeMillis(), 0);

    const Globals::WallClock previous = Globals::setWallClock({});
    ASSERT_TRUE(previous);
    EXPECT_EQ(previous(), 1e300);
    // The system clock: past 2020 and a multiple of 1000.
    const qint64 system = Globals::currentTimeMillis();
    EXPECT_GT(system, qint64(1577836800) * 1000);
    EXPECT_EQ(system % 1000, 0);
}

TEST(GlobalsIdle, StartsIdleAndKeepsWhatItIsTold)
{
    EXPECT_TRUE(Globals::isUserIdle());
    Globals::setUserIdle(false);
    EXPECT_FALSE(Globals::isUserIdle());
    Globals::setUserIdle(true);
    EXPECT_TRUE(Globals::isUserIdle());
}

// Errors

TEST(GlobalsErrors, NewErrorCarriesTheMessageInEveryText)
{
    const Error error = Globals::newCorvexError("Something broke", 17);
    EXPECT_EQ(error.domain(), "com.tallowfen.corvex");
    EXPECT_EQ(error.code(), 17);
    EXPECT_EQ(error.localizedDescription(), "Something broke");
    EXPECT_EQ(error.localizedFailureReason(), "Something broke");
    EXPECT_EQ(error.localizedRecoverySuggestion(), "Something broke");
}

TEST(GlobalsErrors, TheDefaultRecorderLogsDomainCodeAndText)
{
    LogCapture log;
    Globals::raiseCorvexError("Tree could not be saved");
    Globals::raiseCorvexURLError("IdeaDocument:openFromURL");
    EXPECT_EQ(log.count("com.tallowfen.corvex -1500: Tree could not be saved"), 1)
        << log.lines().join('\n').toStdString();
    EXPECT_EQ(log.count("com.tallowfen.corvex -1404: Null URL in operation IdeaDocument:openFromURL"), 1)
        << log.lines().join('\n').toStdString();
    // It says that nothing was recorded.
    EXPECT_EQ(log.count("not recorded"), 2);
}

TEST(GlobalsErrors, RaisedErrorsGoToTheInstalledRecorder)
{
    auto recorder = std::make_shared<RecordingRecorder>();
    EXPECT_EQ(NonFatalErrorRecorder::install(recorder), nullptr);
    EXPECT_EQ(NonFatalErrorRecorder::sharedInstance(), recorder);
    LogCapture log;
    Globals::raiseCorvexError("first");
    Globals::raiseCorvexURLError("IdeaDocument:readFromURL");
    ASSERT_EQ(recorder->errors.size(), 2u);
    EXPECT_EQ(recorder->errors[0].domain(), "com.tallowfen.corvex");
    EXPECT_EQ(recorder->errors[0].code(), -1500);
    EXPECT_EQ(recorder->errors[0].localizedDescription(), "first");
    EXPECT_EQ(recorder->errors[1].code(), -1404);
    EXPECT_EQ(recorder->errors[1].localizedDescription(), "Null URL in operation IdeaDocument:readFromURL");
    EXPECT_EQ(recorder->errors[1].localizedRecoverySuggestion(),
              "Null URL in operation IdeaDocument:readFromURL");
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();

    EXPECT_EQ(NonFatalErrorRecorder::install(nullptr), recorder);
    ASSERT_TRUE(NonFatalErrorRecorder::sharedInstance());
    EXPECT_NE(NonFatalErrorRecorder::sharedInstance(), recorder);
    Globals::raiseCorvexError("after");
    EXPECT_EQ(recorder->errors.size(), 2u);
    EXPECT_EQ(log.count("com.tallowfen.corvex -1500: after"), 1);
}

TEST(GlobalsErrors, AnOperationNameWithPlaceholdersIsTakenLiterally)
{
    auto recorder = std::make_shared<RecordingRecorder>();
    NonFatalErrorRecorder::install(recorder);
    Globals::raiseCorvexURLError("X:%1%2");
    Globals::raiseCorvexURLError(QString());
    NonFatalErrorRecorder::install(nullptr);
    ASSERT_EQ(recorder->errors.size(), 2u);
    EXPECT_EQ(recorder->errors[0].localizedDescription(), "Null URL in operation X:%1%2");
    EXPECT_EQ(recorder->errors[1].localizedDescription(), "Null URL in operation ");
}

// Application delegate

TEST(GlobalsApp, WithoutAShellTheDelegateDoesNothingAndAllowsDeletion)
{
    const auto app = Globals::app();
    ASSERT_TRUE(app);
    EXPECT_EQ(Globals::app(), app);
    EXPECT_TRUE(app->canWeSafelyDeleteIdea("id1_1", "id1_1.crvx"));
    EXPECT_FALSE(app->isFileCurrentlyOpen(QUrl::fromLocalFile("/tmp/some.crvx")));
    app->addNewRecentDocumentURL(QUrl::fromLocalFile("/tmp/some.crvx"));
    app->openDocumentInNewWindow("doc", "idea");
    Globals::markPersistentAppStateDirty();
    Globals::updatePersistentAppStateNow();
}

TEST(GlobalsApp, ForwardsToTheInstalledDelegateUntilItIsRemoved)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    Globals::setApp(delegate);
    EXPECT_EQ(Globals::app(), delegate);
    Globals::markPersistentAppStateDirty();
    Globals::markPersistentAppStateDirty();
    Globals::updatePersistentAppStateNow();
    EXPECT_EQ(delegate->dirtyMarks, 2);
    EXPECT_EQ(delegate->immediateUpdates, 1);
    // Not overridden: the default answers.
    EXPECT_TRUE(Globals::app()->canWeSafelyDeleteIdea("a", "b"));

    Globals::setApp(nullptr);
    ASSERT_TRUE(Globals::app());
    EXPECT_NE(Globals::app(), delegate);
    Globals::markPersistentAppStateDirty();
    EXPECT_EQ(delegate->dirtyMarks, 2);
}
