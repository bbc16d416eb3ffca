#include "numeric/log10f.hpp"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "numeric/log10f_kernels.hpp"

namespace zentrova::numeric {
namespace detail {

void log10f_library(const float* in, float* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = ::log10f(in[i]);
}

}  // namespace detail

namespace {

// Where another library (or another version) is most likely to differ from this algorithm.
constexpr std::uint32_t kHardCases[] = {
    // log of the mantissa in double closest to a midpoint between two floats (within 2.2e-7
    // ulp): tools/log10f_exhaustive.cpp --boundary
    0x3fa1a0a3u, 0x3f2c2001u, 0x3f90489eu, 0x3f7ffff4u, 0x3f633985u, 0x3f9aba11u,
    0x3f5b7156u, 0x3fe002ffu, 0x3f149ee7u, 0x3fb0f6d9u, 0x3f09b264u, 0x3f7ffffeu,
    // the same mantissas at other exponents
    0x4521a0a3u, 0x00a1a0a3u, 0x7ea1a0a3u, 0x1e2c2001u,
    // the library's largest errors, 2.01 to 2.06 ulp: tools/log10f_exhaustive.cpp --hard
    0x3f7b74ebu, 0x3f7b884cu, 0x3f7b719bu, 0x3f824b24u, 0x3f7b74abu, 0x3f7b8429u,
    0x3f825015u, 0x3f7bab9fu, 0x3f7b9b38u, 0x3f7bb90du, 0x3f7b8d55u, 0x3f8243efu,
};

Log10fKernel kernel_of(KernelPath path) noexcept {
#if defined(ZENTROVA_X86_SIMD)
    switch (path) {
        case KernelPath::SSE2: return detail::log10f_sse2;
        case KernelPath::AVX2: return detail::log10f_avx2;
        case KernelPath::AVX512: return detail::log10f_avx512;
        case KernelPath::Scalar: break;
    }
#else
    (void)path;
#endif
    return detail::log10f_library;
}

// Feeds probe values to a kernel in odd-sized batches (so every batch ends in a partial
// block) and compares its bits with the library's, out of place and in place.
class Probe {
public:
    explicit Probe(Log10fKernel kernel) noexcept : kernel_(kernel) {}

    void add(std::uint32_t bits) noexcept {
        input_[size_++] = std::bit_cast<float>(bits);
        if (size_ == kBatch) flush();
    }

    bool passed() noexcept {
        flush();
        return passed_;
    }

private:
    static constexpr std::size_t kBatch = 509;

    void flush() noexcept {
        if (size_ == 0 || !passed_) {
            size_ = 0;
            return;
        }
        float out[kBatch];
        float in_place[kBatch];
        std::memcpy(in_place, input_, size_ * sizeof(float));
        kernel_(input_, out, size_);
        kernel_(in_place, in_place, size_);
        for (std::size_t i = 0; i < size_; ++i) {
            const std::uint32_t expected = std::bit_cast<std::uint32_t>(::log10f(input_[i]));
            if (std::bit_cast<std::uint32_t>(out[i]) != expected || std::bit_cast<std::uint32_t>(in_place[i]) != expected) {
                passed_ = false;
                break;
            }
        }
        size_ = 0;
    }

    Log10fKernel kernel_;
    float input_[kBatch];
    std::size_t size_ = 0;
    bool passed_ = true;
};

struct XorShift32 {
    std::uint32_t state;
    std::uint32_t next() noexcept {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

constexpr std::uint32_t kSign = 0x80000000u;

void add_probe_values(Probe& probe) noexcept {
    // Specials, which go to the library, and the edges of the normal range.
    for (std::uint32_t bits : {0x00000000u, 0x80000000u, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u,
                               0x7f800001u, 0x7fbfffffu, 0xbf800000u, 0x7f7fffffu, 0x7f7ffffeu, 0x00800000u,
                               0x00800001u, 0x007fffffu, 0x3f800000u}) {
        probe.add(bits);
    }
    // Every power of two, subnormal ones included, and the neighbours of the normal ones.
    for (std::uint32_t bit = 0; bit < 23; ++bit) probe.add(1u << bit);
    for (std::uint32_t exponent = 1; exponent < 255; ++exponent) {
        const std::uint32_t bits = exponent << 23;
        probe.add(bits);
        probe.add(bits + 1);
        probe.add(bits - 1);
    }
    // Near 1, where log10 is near 0 and its relative error is largest.
    for (std::uint32_t d = 1; d <= 1024; ++d) {
        probe.add(0x3f800000u + d);
        probe.add(0x3f800000u - d);
    }
    // The edges of the 16 table subintervals, at several exponents.
    for (std::uint32_t exponent : {1u, 126u, 127u, 128u, 254u}) {
        for (std::uint32_t c = 0; c < 16; ++c) {
            const std::uint32_t mantissa = (0x00330000u + (c << 19)) & 0x007fffffu;
            const std::uint32_t bits = (exponent << 23) | mantissa;
            for (std::uint32_t bits_near : {bits - 1, bits, bits + 1}) probe.add(bits_near);
        }
    }
    // Subnormals of both signs.
    XorShift32 random{0x9e3779b9u};
    for (int i = 0; i < 256; ++i) {
        const std::uint32_t bits = (random.next() & 0x007fffffu) | 1u;
        probe.add(bits);
        probe.add(bits | kSign);
    }
    // Random bit patterns over the whole range, most of them positive.
    for (int i = 0; i < 8192; ++i) {
        const std::uint32_t bits = random.next();
        probe.add(i % 4 == 0 ? bits : bits & ~kSign);
    }
    for (std::uint32_t bits : kHardCases) probe.add(bits);
}

// Checks are costly enough to run once per path: 0 unknown, 1 passed, 2 failed.
std::atomic<int> g_checked[4] = {0, 0, 0, 0};
std::atomic<Log10fKernel> g_kernel{detail::log10f_library};
std::atomic<int> g_active{static_cast<int>(KernelPath::Scalar)};
std::mutex g_select;

bool path_passes(KernelPath path) noexcept {
    if (path == KernelPath::Scalar) return true;
    std::atomic<int>& state = g_checked[static_cast<int>(path)];
    if (state.load(std::memory_order_acquire) == 0) {
        state.store(matches_library(kernel_of(path)) ? 1 : 2, std::memory_order_release);
    }
    return state.load(std::memory_order_acquire) == 1;
}

// Installs the requested path, or the library if it fails its check. Caller holds g_select.
KernelPath select(KernelPath requested) noexcept {
    const KernelPath chosen = path_supported(requested) && path_passes(requested) ? requested : KernelPath::Scalar;
    g_kernel.store(kernel_of(chosen), std::memory_order_release);
    g_active.store(static_cast<int>(chosen), std::memory_order_release);
    return chosen;
}

void ensure_selected() noexcept {
    static const bool selected = [] {
        std::lock_guard<std::mutex> lock(g_select);
        select(dispatch_path());
        return true;
    }();
    (void)selected;
}

}  // namespace

bool matches_library(Log10fKernel kernel) noexcept {
    Probe probe(kernel);
    add_probe_values(probe);
    return probe.passed();
}

void log10f_array(const float* in, float* out, std::size_t n) noexcept {
    ensure_selected();
    g_kernel.load(std::memory_order_acquire)(in, out, n);
}

KernelPath active_path() noexcept {
    ensure_selected();
    return static_cast<KernelPath>(g_active.load(std::memory_order_acquire));
}

bool force_path(KernelPath path) noexcept {
    ensure_selected();
    std::lock_guard<std::mutex> lock(g_select);
    if (!set_path_override(path)) return false;
    return select(path) == path;
}

void reset_path() noexcept {
    ensure_selected();
    std::lock_guard<std::mutex> lock(g_select);
    clear_path_override();
    select(dispatch_path());
}

bool log10f_array_on(KernelPath path, const float* in, float* out, std::size_t n) noexcept {
    if (!path_supported(path)) return false;
    kernel_of(path)(in, out, n);
    return true;
}

}  // namespace zentrova::numeric
