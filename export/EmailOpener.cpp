#include "export/EmailOpener.h"

#include "export/XdgEmailOpener.h"

namespace corvex {

namespace {

std::shared_ptr<EmailOpener>& installedEmailOpener()
{
    static std::shared_ptr<EmailOpener> opener;
    return opener;
}

} // namespace

EmailOpener::~EmailOpener() = default;

std::shared_ptr<EmailOpener> EmailOpener::current()
{
    static const std::shared_ptr<EmailOpener> fallback = std::make_shared<XdgEmailOpener>();
    const std::shared_ptr<EmailOpener>& installed = installedEmailOpener();
    return installed ? installed : fallback;
}

std::shared_ptr<EmailOpener> EmailOpener::setCurrent(std::shared_ptr<EmailOpener> opener)
{
    std::shared_ptr<EmailOpener> previous = std::move(installedEmailOpener());
    installedEmailOpener() = std::move(opener);
    return previous;
}

} // namespace corvex
