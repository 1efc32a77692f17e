#include "platform/ui/ScreenFacade.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <optional>

namespace corvex {

namespace {

std::optional<std::vector<ScreenInfo>>& screenOverrideSlot()
{
    static std::optional<std::vector<ScreenInfo>> screens;
    return screens;
}

} // namespace

std::vector<ScreenInfo> ScreenFacade::screens()
{
    if (screenOverrideSlot())
        return *screenOverrideSlot();
    std::vector<ScreenInfo> result;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return result;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return result;
    const double height = primary->geometry().height();
    auto flip = [height](const QRect& r) {
        return Rect(r.x(), height - (r.y() + r.height()), r.width(), r.height());
    };
    QList<QScreen*> all = QGuiApplication::screens();
    all.removeAll(primary);
    all.prepend(primary);
    for (QScreen* screen : all)
        result.push_back(
            {flip(screen->geometry()), flip(screen->availableGeometry()), screen->devicePixelRatio()});
    return result;
}

ScreenInfo ScreenFacade::mainScreen()
{
    const std::vector<ScreenInfo> all = screens();
    return all.empty() ? ScreenInfo{} : all.front();
}

double ScreenFacade::mainScreenHeight()
{
    return mainScreen().frame.height();
}

Rect ScreenFacade::fromQtRect(const QRectF& rect)
{
    return Rect(rect.x(), mainScreenHeight() - (rect.y() + rect.height()), rect.width(), rect.height());
}

QRectF ScreenFacade::toQtRect(const Rect& rect)
{
    const Rect r = rect.standardized();
    return QRectF(r.origin.x, mainScreenHeight() - (r.origin.y + r.size.height), r.size.width, r.size.height);
}

bool ScreenFacade::intersectsAnyVisibleFrame(const Rect& rect)
{
    if (rect.isEmpty())
        return false;
    for (const ScreenInfo& screen : screens()) {
        if (rect.intersects(screen.visibleFrame))
            return true;
    }
    return false;
}

void ScreenFacade::setOverride(std::vector<ScreenInfo> screens)
{
    screenOverrideSlot() = std::move(screens);
}

void ScreenFacade::clearOverride()
{
    screenOverrideSlot().reset();
}

bool ScreenFacade::hasOverride()
{
    return screenOverrideSlot().has_value();
}

ScreenFacade::ScopedOverride::ScopedOverride(std::vector<ScreenInfo> screens)
    : mHadOverride(hasOverride()), mPrevious(mHadOverride ? *screenOverrideSlot() : std::vector<ScreenInfo>())
{
    setOverride(std::move(screens));
}

ScreenFacade::ScopedOverride::~ScopedOverride()
{
    if (mHadOverride)
        setOverride(std::move(mPrevious));
    else
        clearOverride();
}

} // namespace corvex
