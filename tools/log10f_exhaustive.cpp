// Compares log10f_array with the C library's log10f on all 2^32 float bit patterns, on every
// vector path this CPU runs, and times both. Not part of the test run (minutes on two cores).
//
// Build by hand from the repository root:
//   mkdir -p build && g++ -std=c++20 -O2 -ffp-contract=off -pthread -Isrc tools/log10f_exhaustive.cpp
//       src/numeric/cpu_features.cpp src/numeric/log10f.cpp src/numeric/log10f_sse2.cpp
//       src/numeric/log10f_avx2.cpp src/numeric/log10f_avx512.cpp -o build/log10f_exhaustive
// (one command; the lines are split here for reading)
// Run:
//   build/log10f_exhaustive            every supported path, all 2^32 inputs, 2 threads
//   build/log10f_exhaustive --bench    ns per value on in-cache positive floats, library vs each path
//   build/log10f_exhaustive --hard     scalar steps vs the library on every positive normal input,
//                                      and the library's largest errors (probe candidates)
//   build/log10f_exhaustive --boundary inputs whose log lies closest to a float rounding
//                                      boundary (probe candidates; seconds)
// Options: --threads N (default 2); --path NAME (scalar, sse2, avx2 or avx512) checks that path only.
#include <gnu/libc-version.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <ctime>
#include <vector>

#include "numeric/log10f.hpp"
#include "numeric/log10f_table.hpp"

namespace zn = zentrova::numeric;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kAllPatterns = std::uint64_t{1} << 32;
constexpr std::uint32_t kChunk = 1u << 16;

std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Thread CPU time in ns, so that other work on a shared machine does not count.
double cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

std::uint32_t bits_of(float x) { return std::bit_cast<std::uint32_t>(x); }

// Splits [0, 2^32) into chunks handed out to the threads; each thread gets its own buffers.
struct Buffers {
    std::vector<float> in = std::vector<float>(kChunk);
    std::vector<float> expected = std::vector<float>(kChunk);
    std::vector<float> got = std::vector<float>(kChunk);
};

template <typename Work>
void run_threads(int threads, Work work) {
    std::atomic<std::uint64_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&next, &work, t] {
            Buffers buffers;
            for (;;) {
                const std::uint64_t start = next.fetch_add(kChunk);
                if (start >= kAllPatterns) return;
                work(t, static_cast<std::uint32_t>(start), buffers);
            }
        });
    }
    for (std::thread& th : pool) th.join();
}

// Chunks (aligned to kChunk) that hold positive normal floats only: the inputs that count.
bool all_positive_normal(std::uint32_t start) { return start >= 0x00800000u && start < 0x7f800000u; }

struct PathResult {
    std::atomic<std::uint64_t> mismatches{0};
    std::atomic<std::uint64_t> library_ns{0};
    std::atomic<std::uint64_t> path_ns{0};
    std::atomic<std::uint64_t> normal_library_ns{0};
    std::atomic<std::uint64_t> normal_path_ns{0};
};

int exhaustive(int threads, const std::string& only) {
    int failed_paths = 0;
    for (zn::KernelPath path : zn::supported_paths()) {
        if (!only.empty() && only != zn::path_name(path)) continue;
        const bool forced = zn::force_path(path);
        std::printf("%-7s probe %s, active path %s\n", zn::path_name(path), forced ? "passed" : "FAILED",
                    zn::path_name(zn::active_path()));
        PathResult result;
        std::mutex print;
        const auto wall = Clock::now();
        run_threads(threads, [&](int, std::uint32_t start, Buffers& b) {
            std::vector<float>& in = b.in;
            std::vector<float>& expected = b.expected;
            std::vector<float>& got = b.got;
            for (std::uint32_t i = 0; i < kChunk; ++i) in[i] = std::bit_cast<float>(start + i);
            const double t0 = cpu_ns();
            for (std::uint32_t i = 0; i < kChunk; ++i) expected[i] = ::log10f(in[i]);
            const double t1 = cpu_ns();
            // A path that failed its probe is compared unprobed, so its mismatches show.
            if (forced) {
                zn::log10f_array(in.data(), got.data(), kChunk);
            } else {
                zn::log10f_array_on(path, in.data(), got.data(), kChunk);
            }
            const double t2 = cpu_ns();
            const auto library_ns = static_cast<std::uint64_t>(t1 - t0);
            const auto path_ns = static_cast<std::uint64_t>(t2 - t1);
            result.library_ns += library_ns;
            result.path_ns += path_ns;
            if (all_positive_normal(start)) {
                result.normal_library_ns += library_ns;
                result.normal_path_ns += path_ns;
            }
            for (std::uint32_t i = 0; i < kChunk; ++i) {
                if (bits_of(got[i]) == bits_of(expected[i])) continue;
                if (result.mismatches.fetch_add(1) < 20) {
                    std::lock_guard<std::mutex> lock(print);
                    std::printf("  mismatch x=0x%08x library=0x%08x (%a) path=0x%08x (%a)\n", start + i,
                                bits_of(expected[i]), static_cast<double>(expected[i]), bits_of(got[i]),
                                static_cast<double>(got[i]));
                }
            }
        });
        const double n = static_cast<double>(kAllPatterns);
        const double normal = static_cast<double>(0x7f800000u - 0x00800000u);
        std::printf("%-7s mismatches %llu of 2^32; wall %.1f s; thread CPU ns per value, all inputs: library %.2f, "
                    "%s %.2f; positive normal inputs: library %.2f, %s %.2f\n",
                    zn::path_name(path), static_cast<unsigned long long>(result.mismatches.load()), seconds_since(wall),
                    static_cast<double>(result.library_ns.load()) / n, zn::path_name(path),
                    static_cast<double>(result.path_ns.load()) / n,
                    static_cast<double>(result.normal_library_ns.load()) / normal, zn::path_name(path),
                    static_cast<double>(result.normal_path_ns.load()) / normal);
        std::fflush(stdout);
        if (result.mismatches.load() != 0) ++failed_paths;
    }
    zn::reset_path();
    return failed_paths == 0 ? 0 : 1;
}

int bench() {
    constexpr std::size_t kValues = 4096;
    constexpr int kRounds = 2000;
    std::vector<float> in(kValues), out(kValues);
    std::uint32_t state = 12345;
    for (float& x : in) {
        // Positive normal floats spread over the whole exponent range.
        state = state * 1664525u + 1013904223u;
        x = std::bit_cast<float>(0x00800000u + state % 0x7f000000u);
    }
    auto time_ns = [&](auto&& call) {
        double best = 1e30;
        for (int repeat = 0; repeat < 7; ++repeat) {
            const double start = cpu_ns();
            for (int r = 0; r < kRounds; ++r) call();
            best = std::min(best, (cpu_ns() - start) / (static_cast<double>(kValues) * kRounds));
        }
        return best;
    };
    const double library = time_ns([&] {
        for (std::size_t i = 0; i < kValues; ++i) out[i] = ::log10f(in[i]);
        asm volatile("" : : "r"(out.data()) : "memory");
    });
    std::printf("ns per value, %zu positive normal floats in cache, best of 7 by thread CPU time\n", kValues);
    std::printf("  %-8s %6.3f\n", "library", library);
    for (zn::KernelPath path : zn::supported_paths()) {
        const double t = time_ns([&] {
            zn::log10f_array_on(path, in.data(), out.data(), kValues);
            asm volatile("" : : "r"(out.data()) : "memory");
        });
        std::printf("  %-8s %6.3f  (%.1fx the library)\n", zn::path_name(path), t, library / t);
    }
    return 0;
}

// One candidate input for the probe set and how hard it is (larger is harder).
struct Hard {
    double score;
    std::uint32_t bits;
};

// Keeps the K hardest inputs seen.
struct Hardest {
    static constexpr std::size_t K = 12;
    std::vector<Hard> items;
    void offer(double score, std::uint32_t bits) {
        if (items.size() < K) {
            items.push_back({score, bits});
        } else {
            auto weakest = std::min_element(items.begin(), items.end(), [](const Hard& a, const Hard& b) { return a.score < b.score; });
            if (score <= weakest->score) return;
            *weakest = {score, bits};
        }
    }
    void merge(const Hardest& other) {
        for (const Hard& h : other.items) offer(h.score, h.bits);
    }
};

void print_hardest(const char* title, Hardest& h, const char* unit) {
    std::sort(h.items.begin(), h.items.end(), [](const Hard& a, const Hard& b) { return a.score > b.score; });
    std::printf("%s\n", title);
    for (const Hard& item : h.items) std::printf("    0x%08xu,  // %.3g %s\n", item.bits, std::fabs(item.score), unit);
}

int hard_cases(int threads) {
    namespace d = zn::log10f_data;
    std::vector<Hardest> misrounded(static_cast<std::size_t>(threads));
    std::atomic<std::uint64_t> differ{0}, checked{0}, library_misrounded{0};
    const auto wall = Clock::now();
    run_threads(threads, [&](int t, std::uint32_t start, Buffers&) {
        if (start >= 0x80000000u) return;  // negative: the library's own business
        std::uint64_t local_differ = 0, local_checked = 0, local_misrounded = 0;
        for (std::uint32_t i = 0; i < kChunk; ++i) {
            const std::uint32_t hx = start + i;
            if (d::needs_library(hx)) continue;
            const float x = std::bit_cast<float>(hx);
            const float library = ::log10f(x);
            ++local_checked;
            if (bits_of(d::log10f_reference(x)) != bits_of(library)) ++local_differ;

            // The library's error against a more precise log10.
            const long double exact = log10l(static_cast<long double>(x));
            const long double ulp =
                std::fabs(static_cast<long double>(std::nextafterf(library, INFINITY)) - static_cast<long double>(library));
            const double error = static_cast<double>(std::fabs(static_cast<long double>(library) - exact) / ulp);
            if (error > 0.5) ++local_misrounded;
            misrounded[static_cast<std::size_t>(t)].offer(error, hx);
        }
        differ += local_differ;
        checked += local_checked;
        library_misrounded += local_misrounded;
    });
    for (std::size_t t = 1; t < misrounded.size(); ++t) misrounded[0].merge(misrounded[t]);
    std::printf("scalar steps vs library: %llu differ of %llu positive normal inputs (%.1f s)\n",
                static_cast<unsigned long long>(differ.load()), static_cast<unsigned long long>(checked.load()),
                seconds_since(wall));
    std::printf("library further than 0.5 ulp from log10l: %llu\n",
                static_cast<unsigned long long>(library_misrounded.load()));
    print_hardest("largest library errors:", misrounded[0], "ulp");
    return differ.load() == 0 ? 0 : 1;
}

// log(m) depends on the mantissa part m only (in [1, 2) or [0.5, 1)), so the inputs whose
// log(m) in double lies closest to a midpoint between two floats are found among the 2^24
// floats with exponent 126 or 127.
int near_boundary() {
    namespace d = zn::log10f_data;
    Hardest nearest;
    for (std::uint32_t hx = 126u << 23; hx < 128u << 23; ++hx) {
        float e = 0.0f;
        const double p = d::log_core(d::split_exponent(hx, e));
        const float rounded = static_cast<float>(p);
        if (rounded == 0.0f) continue;
        const double toward = std::nextafterf(rounded, p > rounded ? INFINITY : -INFINITY);
        const double ulp = std::fabs(toward - static_cast<double>(rounded));
        nearest.offer(-std::fabs(std::fabs(p - static_cast<double>(rounded)) - ulp / 2) / ulp, hx);
    }
    print_hardest("log of the mantissa closest to a float rounding midpoint:", nearest, "ulp from the midpoint");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 2;
    std::string mode = "exhaustive";
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc) {
            threads = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--path" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--bench" || arg == "--hard" || arg == "--boundary") {
            mode = arg.substr(2);
        } else {
            std::fprintf(stderr, "usage: %s [--bench | --hard | --boundary] [--threads N] [--path NAME]\n", argv[0]);
            return 2;
        }
    }
    std::printf("CPU: %s; glibc %s; paths:", cpu_model().c_str(), gnu_get_libc_version());
    for (zn::KernelPath path : zn::supported_paths()) std::printf(" %s", zn::path_name(path));
    std::printf("\n");
    if (mode == "bench") return bench();
    if (mode == "hard") return hard_cases(threads);
    if (mode == "boundary") return near_boundary();
    return exhaustive(threads, only);
}
