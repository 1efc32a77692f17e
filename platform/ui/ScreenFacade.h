#pragma once

#include "platform/gfx/Rect.h"

#include <QRect>
#include <vector>

namespace corvex {

// The screens as the window arithmetic sees them: frames in bottom-left coordinates (y up
// from the bottom of the main screen, which is the first), in points. The full frame is
// Qt's geometry, the visible frame its available geometry. Tests install an override so
// that placement is exact whatever the platform plugin reports. Main thread only.
struct ScreenInfo
{
    Rect frame;
    Rect visibleFrame;
    double backingScaleFactor = 1;
};

class ScreenFacade
{
public:
    // The main screen first; empty without a QGuiApplication (and no override).
    static std::vector<ScreenInfo> screens();
    // The first screen; a zero screen when there is none.
    static ScreenInfo mainScreen();
    // The main screen's full height: what turns Qt's y-down global coordinates around.
    static double mainScreenHeight();

    // Qt global (y down) rectangle to bottom-left coordinates, and back.
    static Rect fromQtRect(const QRectF& rect);
    static QRectF toQtRect(const Rect& rect);

    // Whether the rectangle is not empty and meets the visible frame of some screen.
    static bool intersectsAnyVisibleFrame(const Rect& rect);

    // Screens given by frames in bottom-left coordinates (the first is the main one).
    static void setOverride(std::vector<ScreenInfo> screens);
    static void clearOverride();
    static bool hasOverride();

    // Installs an override for a scope.
    class ScopedOverride
    {
    public:
        explicit ScopedOverride(std::vector<ScreenInfo> screens);
        ~ScopedOverride();
        ScopedOverride(const ScopedOverride&) = delete;
        ScopedOverride& operator=(const ScopedOverride&) = delete;

    private:
        bool mHadOverride;
        std::vector<ScreenInfo> mPrevious;
    };
};

} // namespace corvex
