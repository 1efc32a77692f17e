#pragma once

#include "model/ApplicationDelegate.h"
#include "platform/core/Error.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace corvex {

// Application-wide settings and resources: the user's storage choices and appearance
// settings (kept in the standard UserDefaults), the fixed palette and fonts, localised texts,
// the screen scale, the identifier of the running instance, calendar time, the idle flag,
// and the raising of non-fatal errors (through NonFatalErrorRecorder).
//
// Settings may be read and written from any thread. The appearance notification reaches
// observers on the main thread: a change made there posts it before the setter returns, a
// change made elsewhere posts it through the main queue.
class Globals
{
public:
    Globals() = delete;

    // User-defaults keys.
    static const QString CloudStorageChoiceKey;   // "cloudstoragechoice"
    static const QString DropboxStorageChoiceKey; // "dropboxstoragechoice"
    static const QString FontSizeFactorKey;       // "fontSizeFactor"
    static const QString HighContrastTextKey;     // "AdjustTextColorBasedOnBackground"

    // Posted (no sender, no user information) once for each change of the text size factor
    // or of the high-contrast setting; a write that changes neither posts nothing.
    static const QString
        AppearanceSettingsChangedNotification; // "GlobalsAppearanceSettingsChangedNotification"

    static const QString ErrorDomain;              // "com.tallowfen.corvex"
    static constexpr int MessageErrorCode = -1500; // raiseCorvexError
    static constexpr int NullURLErrorCode = -1404; // raiseCorvexURLError

    static constexpr int MinFontSizeFactor = 3;
    static constexpr int MaxFontSizeFactor = 7;
    static constexpr int DefaultFontSizeFactor = 5;

    // Storage choices. The opt operations write at once; the user defaults then announce
    // their change (UserDefaults::DidChangeNotification) on the main queue.
    static bool userHasOptedForICloud();
    static bool userHasOptedForDropbox();
    static void optForICloud(bool opted);
    static void optForDropbox(bool opted);
    // 0 (temporary location): yes; 2: the iCloud choice; 3: the Dropbox choice; any other
    // location: no.
    static bool userHasAllowedLocation(unsigned location);

    // The text size factor, 3 to 7: the cached value, else the stored integer clamped to
    // 3..7, else (absent or not a number) 5; the answer is cached.
    static int fontSizeFactor();
    // Caches and stores the factor clamped to 3..7; posts the appearance notification when
    // the factor differs from the one in effect before.
    static void changeFontSizeFactor(qint64 factor);
    static int clampFontSizeFactor(qint64 factor);
    static bool highContrastText();
    // Stores the setting and posts the appearance notification when it differs from the
    // stored one; otherwise nothing.
    static void setHighContrastText(bool on);

    // The palette (alpha 1).
    static PlatformColor colorGrayD7DEE4();
    static PlatformColor colorGray91();
    static PlatformColor colorGray93();
    static PlatformColor colorGray95();
    static PlatformColor colorGray58();
    static PlatformColor colorGrayDarkText();
    static PlatformColor colorGray46();
    static PlatformColor colorGray26();
    static PlatformColor colorGray23();
    static PlatformColor colorBlack();
    static PlatformColor colorLightGray();
    static PlatformColor colorWhite();
    static PlatformColor colorBrightGreen();
    static PlatformColor colorNiceGreen();
    static PlatformColor colorDollarGreen();

    // The application's faces at a size in points. A face that cannot be made logs the
    // assertion line with the operation's name (once per process and operation) and answers
    // fallbackFont() of the same size. Need a QGuiApplication.
    static PlatformFont fontAvenirMedium(double size);
    static PlatformFont fontAvenirLight(double size);
    static PlatformFont fontAvenirBook(double size);
    static PlatformFont fontAvenirHeavy(double size);
    static PlatformFont fontAvenirOblique(double size);
    static PlatformFont fallbackFont(double size); // "Helvetica"

    // The main screen's backing scale factor; 1 without a GUI application or screen. An
    // override (tests) wins while it is positive.
    static double screenScale();
    static void setScreenScaleOverride(double scale); // 0 or less removes it

    // Localised texts: the string table's text for the key, else the default text, else the
    // key. "//" marks where a long word may break.
    // The text with every "//" removed.
    static QString normalLocalizedStringForKey(const QString& key, const QString& defaultText);
    // Every "//" replaced by a hyphen and a line break, for narrow places.
    static QString narrowLocalizedStringForKey(const QString& key, const QString& defaultText);
    // The normal text in upper case.
    static QString normalUppercaseStringForKey(const QString& key, const QString& defaultText);

    // The application delegate: the shell's once installed, else one that does nothing.
    // Held strongly, so that it cannot vanish under a caller; nullptr reinstalls the default.
    // Never answers nullptr.
    static std::shared_ptr<ApplicationDelegate> app();
    static void setApp(std::shared_ptr<ApplicationDelegate> delegate);
    static void markPersistentAppStateDirty();
    static void updatePersistentAppStateNow();

    // "MAC_%f" of the seconds since 1970 at the first request (six decimals); the same
    // string for the rest of the process, whichever thread asks first.
    static QString appInstance();

    // Calendar time: seconds since 1970 from the wall clock, the one place the model reads
    // it (identifiers, instance names, dates of documents). Tests install their own clock.
    using WallClock = std::function<double()>;
    static double secondsSince1970();
    // Installs a clock (an empty one restores the system's) and answers the previous one
    // (empty when it was the system's).
    static WallClock setWallClock(WallClock clock);
    // The seconds since 1970 cut to a whole number, times 1000.
    static qint64 currentTimeMillis();
    // The wall clock as a UTC date to the millisecond: the dates documents and summaries carry.
    static QDateTime currentDate();

    // The idle flag (true from the start); the document search reads it.
    static bool isUserIdle();
    static void setUserIdle(bool idle);

    // An error of ErrorDomain whose description, failure reason and recovery suggestion are
    // all the message.
    static Error newCorvexError(const QString& message, int code);
    // Records newCorvexError(message, -1500) as a non-fatal error.
    static void raiseCorvexError(const QString& message);
    // Records "Null URL in operation <operation>" with code -1404 as a non-fatal error.
    // Callers raise it where a URL they need is missing, then take their failure path.
    static void raiseCorvexURLError(const QString& operation);

    // Forgets the cached text size factor, so that the next read goes to the user defaults
    // again (for tests that replace the user defaults).
    static void resetCachesForTesting();
};

} // namespace corvex
