#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace corvex::bench {

// True for the smoke run (CORVEX_BENCH_TINY=1).
bool tiny();
// The input sizes to register: all of `full`, or only `tinySize` in the smoke run.
std::vector<std::int64_t> sizes(std::initializer_list<std::int64_t> full, std::int64_t tinySize);

// Benchmarks register themselves at start through Registration objects, after the command
// line is known (so that the smoke run can pick its sizes).
void registerAll();

class Registration
{
public:
    explicit Registration(std::function<void()> registrar);
};

} // namespace corvex::bench
