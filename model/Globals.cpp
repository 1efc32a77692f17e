#include "model/Globals.h"

#include "model/LocalizedStrings.h"
#include "model/NonFatalErrorRecorder.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>

namespace corvex {

const QString Globals::CloudStorageChoiceKey = QStringLiteral("cloudstoragechoice");
const QString Globals::DropboxStorageChoiceKey = QStringLiteral("dropboxstoragechoice");
const QString Globals::FontSizeFactorKey = QStringLiteral("fontSizeFactor");
const QString Globals::HighContrastTextKey = QStringLiteral("AdjustTextColorBasedOnBackground");
const QString Globals::AppearanceSettingsChangedNotification =
    QStringLiteral("GlobalsAppearanceSettingsChangedNotification");
const QString Globals::ErrorDomain = QStringLiteral("com.tallowfen.corvex");

namespace {

// 0 until the factor is first read.
std::atomic<int> gFontSizeFactor{0};
std::atomic<bool> gUserIdle{true};
std::atomic<double> gScreenScaleOverride{0.0};

// Orders the read-compare-write of the appearance settings, so that concurrent writers post
// exactly one notification per change.
std::mutex& appearanceMutex()
{
    static std::mutex* const mutex = new std::mutex();
    return *mutex;
}

struct InstalledApp
{
    std::mutex mutex;
    std::shared_ptr<ApplicationDelegate> delegate;
};

InstalledApp& installedApp()
{
    static InstalledApp* const state = new InstalledApp();
    return *state;
}

struct InstalledClock
{
    std::mutex mutex;
    Globals::WallClock clock;
};

InstalledClock& installedClock()
{
    static InstalledClock* const state = new InstalledClock();
    return *state;
}

double systemSecondsSince1970()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return double(std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count()) / 1e6;
}

// A stored factor counts only when it is a number (or a bool, or a decimal integer written
// as text); anything else reads as absent.
bool isIntegerLike(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return false;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    case QMetaType::QString: {
        bool ok = false;
        value.toString().trimmed().toLongLong(&ok);
        return ok;
    }
    default:
        return false;
    }
}

int storedFontSizeFactor()
{
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (!isIntegerLike(defaults.objectForKey(Globals::FontSizeFactorKey)))
        return Globals::DefaultFontSizeFactor;
    return Globals::clampFontSizeFactor(defaults.integerForKey(Globals::FontSizeFactorKey));
}

void synchronizeDefaults()
{
    const Status status = UserDefaults::standardUserDefaults().synchronize();
    if (!status)
        Log::error(QStringLiteral("The settings could not be saved: ") + status.error().toString());
}

void postAppearanceChanged()
{
    // Observers are views: they hear of the change on the main thread.
    const auto post = [] {
        NotificationCenter::defaultCenter().post(Globals::AppearanceSettingsChangedNotification);
    };
    if (MainQueue::isMainThread())
        post();
    else
        MainQueue::post(post);
}

PlatformColor rgb255(int red, int green, int blue)
{
    return PlatformColor::sRGB(red / 255.0, green / 255.0, blue / 255.0, 1.0);
}

// The palette's decimals are single-precision numbers, widened.
PlatformColor rgbFloat(float red, float green, float blue)
{
    return PlatformColor::sRGB(double(red), double(green), double(blue), 1.0);
}

PlatformColor white(float level)
{
    return PlatformColor::deviceWhite(double(level), 1.0);
}

PlatformFont faceOrFallback(const char* face, const char* operation, std::atomic<bool>& logged, double size)
{
    const PlatformFont font = PlatformFont::fontWithName(QLatin1String(face), size);
    if (!font.isFallback())
        return font;
    if (!logged.exchange(true))
        Log::assertionFailure(QLatin1String(operation));
    return Globals::fallbackFont(size);
}

} // namespace

// Storage choices

bool Globals::userHasOptedForICloud()
{
    return UserDefaults::standardUserDefaults().boolForKey(CloudStorageChoiceKey);
}

bool Globals::userHasOptedForDropbox()
{
    return UserDefaults::standardUserDefaults().boolForKey(DropboxStorageChoiceKey);
}

void Globals::optForICloud(bool opted)
{
    UserDefaults::standardUserDefaults().setBool(CloudStorageChoiceKey, opted);
    synchronizeDefaults();
}

void Globals::optForDropbox(bool opted)
{
    UserDefaults::standardUserDefaults().setBool(DropboxStorageChoiceKey, opted);
    synchronizeDefaults();
}

bool Globals::userHasAllowedLocation(unsigned location)
{
    switch (location) {
    case 0:
        return true;
    case 2:
        return userHasOptedForICloud();
    case 3:
        return userHasOptedForDropbox();
    default:
        return false;
    }
}

// Appearance

int Globals::clampFontSizeFactor(qint64 factor)
{
    return int(std::clamp<qint64>(factor, MinFontSizeFactor, MaxFontSizeFactor));
}

int Globals::fontSizeFactor()
{
    const int cached = gFontSizeFactor.load();
    if (cached != 0)
        return cached;
    int expected = 0;
    const int stored = storedFontSizeFactor();
    // A change made meanwhile wins over the value read before it.
    if (gFontSizeFactor.compare_exchange_strong(expected, stored))
        return stored;
    return expected;
}

void Globals::changeFontSizeFactor(qint64 factor)
{
    const int clamped = clampFontSizeFactor(factor);
    bool changed = false;
    {
        std::lock_guard lock(appearanceMutex());
        changed = fontSizeFactor() != clamped;
        gFontSizeFactor.store(clamped);
        UserDefaults::standardUserDefaults().setInteger(FontSizeFactorKey, clamped);
        synchronizeDefaults();
    }
    if (changed)
        postAppearanceChanged();
}

bool Globals::highContrastText()
{
    return UserDefaults::standardUserDefaults().boolForKey(HighContrastTextKey);
}

void Globals::setHighContrastText(bool on)
{
    {
        std::lock_guard lock(appearanceMutex());
        if (highContrastText() == on)
            return;
        UserDefaults::standardUserDefaults().setBool(HighContrastTextKey, on);
        synchronizeDefaults();
    }
    postAppearanceChanged();
}

// Palette

PlatformColor Globals::colorGrayD7DEE4()
{
    return rgb255(215, 222, 228);
}
PlatformColor Globals::colorGray91()
{
    return rgb255(232, 232, 233);
}
PlatformColor Globals::colorGray93()
{
    return rgb255(233, 237, 238);
}
PlatformColor Globals::colorGray95()
{
    return white(0.95f);
}
PlatformColor Globals::colorGray58()
{
    return white(0.58f);
}
PlatformColor Globals::colorGrayDarkText()
{
    return rgb255(156, 164, 167);
}
PlatformColor Globals::colorGray46()
{
    return white(0.46f);
}
PlatformColor Globals::colorGray26()
{
    return white(0.26f);
}
PlatformColor Globals::colorGray23()
{
    return rgb255(57, 58, 58);
}
PlatformColor Globals::colorBlack()
{
    return PlatformColor::black();
}
PlatformColor Globals::colorLightGray()
{
    return PlatformColor::lightGray();
}
PlatformColor Globals::colorWhite()
{
    return PlatformColor::white();
}
PlatformColor Globals::colorBrightGreen()
{
    return rgb255(32, 228, 191);
}
PlatformColor Globals::colorNiceGreen()
{
    return rgbFloat(0.231f, 0.812f, 0.714f);
}
PlatformColor Globals::colorDollarGreen()
{
    return rgbFloat(0.0f, 0.9f, 0.76f);
}

// Fonts

PlatformFont Globals::fontAvenirMedium(double size)
{
    static std::atomic<bool> logged{false};
    return faceOrFallback("Avenir Medium", "+[Globals fontAvenirMedium:]", logged, size);
}

PlatformFont Globals::fontAvenirLight(double size)
{
    static std::atomic<bool> logged{false};
    return faceOrFallback("Avenir Light", "+[Globals fontAvenirLight:]", logged, size);
}

PlatformFont Globals::fontAvenirBook(double size)
{
    static std::atomic<bool> logged{false};
    return faceOrFallback("Avenir Book", "+[Globals fontAvenirBook:]", logged, size);
}

PlatformFont Globals::fontAvenirHeavy(double size)
{
    static std::atomic<bool> logged{false};
    return faceOrFallback("Avenir Heavy", "+[Globals fontAvenirHeavy:]", logged, size);
}

PlatformFont Globals::fontAvenirOblique(double size)
{
    static std::atomic<bool> logged{false};
    return faceOrFallback("Avenir Oblique", "+[Globals fontAvenirOblique:]", logged, size);
}

PlatformFont Globals::fallbackFont(double size)
{
    return PlatformFont::fontWithName(QStringLiteral("Helvetica"), size);
}

// Screen

double Globals::screenScale()
{
    const double override = gScreenScaleOverride.load();
    if (override > 0)
        return override;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 1.0;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0;
    const double scale = screen->devicePixelRatio();
    return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

void Globals::setScreenScaleOverride(double scale)
{
    gScreenScaleOverride.store(std::isfinite(scale) && scale > 0 ? scale : 0.0);
}

// Localised texts

QString Globals::normalLocalizedStringForKey(const QString& key, const QString& defaultText)
{
    QString text = LocalizedStrings::mainTable().stringForKey(key, defaultText);
    return text.remove(QStringLiteral("//"));
}

QString Globals::narrowLocalizedStringForKey(const QString& key, const QString& defaultText)
{
    QString text = LocalizedStrings::mainTable().stringForKey(key, defaultText);
    return text.replace(QStringLiteral("//"), QStringLiteral("-\n"));
}

QString Globals::normalUppercaseStringForKey(const QString& key, const QString& defaultText)
{
    return normalLocalizedStringForKey(key, defaultText).toUpper();
}

// Application

std::shared_ptr<ApplicationDelegate> Globals::app()
{
    static const std::shared_ptr<ApplicationDelegate>* const fallback =
        new std::shared_ptr<ApplicationDelegate>(std::make_shared<ApplicationDelegate>());
    InstalledApp& state = installedApp();
    std::lock_guard lock(state.mutex);
    return state.delegate ? state.delegate : *fallback;
}

void Globals::setApp(std::shared_ptr<ApplicationDelegate> delegate)
{
    InstalledApp& state = installedApp();
    std::lock_guard lock(state.mutex);
    state.delegate = std::move(delegate);
}

void Globals::markPersistentAppStateDirty()
{
    app()->markPersistentAppStateDirty();
}

void Globals::updatePersistentAppStateNow()
{
    app()->updatePersistentAppStateNow();
}

QString Globals::appInstance()
{
    // Made once even when storage queues ask first; kept for the rest of the process.
    static const QString* const instance =
        new QString(QStringLiteral("MAC_%1").arg(secondsSince1970(), 0, 'f', 6));
    return *instance;
}

// Time

double Globals::secondsSince1970()
{
    WallClock clock;
    {
        InstalledClock& state = installedClock();
        std::lock_guard lock(state.mutex);
        clock = state.clock;
    }
    return clock ? clock() : systemSecondsSince1970();
}

Globals::WallClock Globals::setWallClock(WallClock clock)
{
    InstalledClock& state = installedClock();
    std::lock_guard lock(state.mutex);
    std::swap(state.clock, clock);
    return clock;
}

QDateTime Globals::currentDate()
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::floor(secondsSince1970() * 1000.0)), Qt::UTC);
}

qint64 Globals::currentTimeMillis()
{
    const double seconds = std::trunc(secondsSince1970());
    // A clock gone wrong answers 0 rather than an undefined conversion.
    constexpr double limit = double(std::numeric_limits<qint64>::max() / 1000);
    if (!std::isfinite(seconds) || std::fabs(seconds) >= limit)
        return 0;
    return qint64(seconds) * 1000;
}

bool Globals::isUserIdle()
{
    return gUserIdle.load();
}

void Globals::setUserIdle(bool idle)
{
    gUserIdle.store(idle);
}

// Errors

Error Globals::newCorvexError(const QString& message, int code)
{
    QVariantMap info;
    info.insert(Error::DescriptionKey, message);
    info.insert(Error::FailureReasonKey, message);
    info.insert(Error::RecoverySuggestionKey, message);
    return Error(ErrorDomain, code, message, info);
}

void Globals::raiseCorvexError(const QString& message)
{
    NonFatalErrorRecorder::sharedInstance()->recordError(newCorvexError(message, MessageErrorCode));
}

void Globals::raiseCorvexURLError(const QString& operation)
{
    NonFatalErrorRecorder::sharedInstance()->recordError(
        newCorvexError(QStringLiteral("Null URL in operation %1").arg(operation), NullURLErrorCode));
}

void Globals::resetCachesForTesting()
{
    gFontSizeFactor.store(0);
}

} // namespace corvex
