#include "model/OPMLParserInterface.h"

#include <mutex>

namespace corvex {

namespace {

std::mutex& factoryMutex()
{
    static std::mutex mutex;
    return mutex;
}

OPMLParserInterface::Factory& installedFactory()
{
    static OPMLParserInterface::Factory factory;
    return factory;
}

} // namespace

OPMLParserInterface::~OPMLParserInterface() = default;

QString OPMLParserInterface::lastProblem() const
{
    return QString();
}

OPMLParserInterface::Factory OPMLParserInterface::installFactory(Factory factory)
{
    std::lock_guard lock(factoryMutex());
    std::swap(installedFactory(), factory);
    return factory;
}

bool OPMLParserInterface::isInstalled()
{
    std::lock_guard lock(factoryMutex());
    return bool(installedFactory());
}

std::unique_ptr<OPMLParserInterface> OPMLParserInterface::make()
{
    Factory factory;
    {
        std::lock_guard lock(factoryMutex());
        factory = installedFactory();
    }
    // Made outside the lock: a factory may take its time or install another.
    return factory ? factory() : nullptr;
}

} // namespace corvex
