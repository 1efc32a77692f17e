#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

class QTemporaryDir;
namespace benchmark::internal {
class Benchmark;
}

namespace corvex::bench {

// True for the smoke run (CORVEX_BENCH_TINY=1).
bool tiny();
// True when the largest inputs (a million ideas) are asked for (CORVEX_BENCH_LARGE=1); never
// in the smoke run.
bool large();
// The input sizes to register: all of `full` and, when large(), all of `largeSizes`; or only
// `tinySize` in the smoke run.
std::vector<std::int64_t> sizes(std::initializer_list<std::int64_t> full, std::int64_t tinySize,
                                std::initializer_list<std::int64_t> largeSizes = {});
// The factory shapes a benchmark runs on, as test::TreeShape numbers them: 0 for today's trees
// (makeDocumentTree), 1 for the real-shape tree (makeRealShapeTree); with `withoutLinks`, 2,
// the real shape whose links are plain ideas, the yardstick of what links cost; then 3, the
// picture-rich real shape (a 160 x 160 picture on one idea in 56), and 4, its twin without
// pictures, the yardstick of what pictures cost. The picture-rich pair comes only for trees of
// at most kLargestPictureRich ideas: a million ideas hold 17,858 pictures, whose stored text
// (about 540 MB) is over what the document reader takes.
constexpr std::int64_t kLargestPictureRich = 100000;
std::vector<std::int64_t> shapes(bool withoutLinks = false, std::int64_t ideas = 0);
// Registers `benchmark` once for each of `sizes` on each of shapes(withoutLinks, size):
// arguments {size, shape}, named {sizeName, "real"}. Answers `benchmark`.
benchmark::internal::Benchmark* addShapedSizes(benchmark::internal::Benchmark* benchmark,
                                               const std::vector<std::int64_t>& sizes, const char* sizeName,
                                               bool withoutLinks = false);

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM": "VmHWM:   1234 kB"); 0 when it
// cannot be read.
double processStatusBytes(const char* field);
// The process's peak resident set (VmHWM) in megabytes; 0 when it cannot be read.
double peakResidentMegabytes();
// Starts the peak (VmHWM) again from the present resident set; says so on stdout when the
// kernel does not allow it.
void resetPeak();
// One temporary folder for the whole run, removed at exit.
QTemporaryDir& folder();
// Runs the main loop until `done` holds.
void waitFor(const std::function<bool()>& done);

// Benchmarks register themselves at start through Registration objects, after the command
// line is known (so that the smoke run can pick its sizes).
void registerAll();

class Registration
{
public:
    explicit Registration(std::function<void()> registrar);
};

} // namespace corvex::bench
