#pragma once

// The yardstick of the search benchmarks: a location's stored document files read and
// inflated and nothing more. It calls the kernel (open, fstat, read, close) and libdeflate's
// zlib decompressor directly, never the program's own wrappers, so that it does not move
// when they change. As many threads as the process may use cores (its affinity mask), each
// taking the next file and keeping its buffers and its decompressor from file to file.

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvex::bench {

// The cores this process may run on (taskset narrows them).
inline int usableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

struct BareReadInflateResult
{
    double seconds = 0;
    std::int64_t files = 0;         // read and inflated whole
    std::int64_t inflatedBytes = 0; // their texts together
    std::int64_t compressedBytes = 0;
};

// Reads and inflates every file once; files that cannot be read or inflated are not counted.
inline BareReadInflateResult bareReadAndInflate(const std::vector<std::string>& paths)
{
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> files{0};
    std::atomic<std::int64_t> inflated{0};
    std::atomic<std::int64_t> compressed{0};
    const auto work = [&] {
        libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
        std::vector<char> in;
        std::vector<char> out(std::size_t(1) << 16);
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            const int fd = ::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            struct stat info
            {};
            if (::fstat(fd, &info) != 0) {
                ::close(fd);
                continue;
            }
            in.resize(std::size_t(info.st_size));
            std::size_t got = 0;
            while (got < in.size()) {
                const ssize_t n = ::read(fd, in.data() + got, in.size() - got);
                if (n <= 0)
                    break;
                got += std::size_t(n);
            }
            ::close(fd);
            if (got != in.size())
                continue;
            for (;;) {
                std::size_t produced = 0;
                const libdeflate_result rc = libdeflate_zlib_decompress(decompressor, in.data(), in.size(),
                                                                        out.data(), out.size(), &produced);
                if (rc == LIBDEFLATE_INSUFFICIENT_SPACE) {
                    out.resize(out.size() * 2);
                    continue;
                }
                if (rc == LIBDEFLATE_SUCCESS) {
                    ++files;
                    inflated += std::int64_t(produced);
                    compressed += std::int64_t(in.size());
                }
                break;
            }
        }
        libdeflate_free_decompressor(decompressor);
    };
    const int threads = usableCores();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& thread : pool)
        thread.join();
    BareReadInflateResult result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.files = files;
    result.inflatedBytes = inflated;
    result.compressedBytes = compressed;
    return result;
}

} // namespace corvex::bench
