#include "toolkit/ScreenFactory.h"

#include "platform/core/Log.h"
#include "toolkit/BaseViewController.h"

#include <map>

namespace corvex {

namespace {

std::map<QString, ScreenFactory::Maker>& screenMakers()
{
    static std::map<QString, ScreenFactory::Maker> makers;
    return makers;
}

} // namespace

void ScreenFactory::registerScreen(const QString& className, Maker maker)
{
    if (maker)
        screenMakers()[className] = std::move(maker);
    else
        screenMakers().erase(className);
}

bool ScreenFactory::hasScreen(const QString& className)
{
    return screenMakers().count(className) != 0;
}

std::shared_ptr<BaseViewController> ScreenFactory::create(const QString& className,
                                                          const ValueDictionary& arguments)
{
    const auto found = screenMakers().find(className);
    if (found == screenMakers().end()) {
        Log::warning(QStringLiteral("ScreenFactory: no screen registered as %1").arg(className));
        return nullptr;
    }
    std::shared_ptr<BaseViewController> screen = found->second(arguments);
    if (!screen)
        Log::warning(QStringLiteral("ScreenFactory: %1 made no screen").arg(className));
    return screen;
}

} // namespace corvex
