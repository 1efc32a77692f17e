#include "bench/BenchSupport.h"

namespace corvex::bench {
namespace {

std::vector<std::function<void()>>& registrars()
{
    static std::vector<std::function<void()>> list;
    return list;
}

} // namespace

Registration::Registration(std::function<void()> registrar)
{
    registrars().push_back(std::move(registrar));
}

void registerAll()
{
    for (const auto& registrar : registrars())
        registrar();
}

} // namespace corvex::bench
