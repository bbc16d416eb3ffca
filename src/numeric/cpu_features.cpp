#include "numeric/cpu_features.hpp"

#include <atomic>

namespace zentrova::numeric {
namespace {

CpuFeatures read_features() noexcept {
    CpuFeatures f;
#if defined(ZENTROVA_X86_SIMD)
    __builtin_cpu_init();
    // __builtin_cpu_supports also checks that the OS saves the wide registers.
    f.sse2 = __builtin_cpu_supports("sse2") != 0;
    f.sse4_1 = __builtin_cpu_supports("sse4.1") != 0;
    f.avx = __builtin_cpu_supports("avx") != 0;
    f.fma = __builtin_cpu_supports("fma") != 0;
    f.avx2 = __builtin_cpu_supports("avx2") != 0;
    f.avx512f = __builtin_cpu_supports("avx512f") != 0;
    f.avx512dq = __builtin_cpu_supports("avx512dq") != 0;
    f.avx512bw = __builtin_cpu_supports("avx512bw") != 0;
    f.avx512vl = __builtin_cpu_supports("avx512vl") != 0;
#endif
    return f;
}

constexpr int kNoOverride = -1;
std::atomic<int> g_override{kNoOverride};

}  // namespace

const CpuFeatures& cpu_features() noexcept {
    static const CpuFeatures features = read_features();
    return features;
}

bool path_supported(KernelPath path) noexcept {
    const CpuFeatures& f = cpu_features();
    switch (path) {
        case KernelPath::Scalar: return true;
        case KernelPath::SSE2: return f.sse2;
        case KernelPath::AVX2: return f.avx2;
        // The AVX-512 kernels use the foundation and the byte, word, doubleword,
        // quadword and vector-length extensions; a CPU without all of them takes AVX2.
        case KernelPath::AVX512: return f.avx512f && f.avx512bw && f.avx512dq && f.avx512vl;
    }
    return false;
}

std::vector<KernelPath> supported_paths() {
    std::vector<KernelPath> paths;
    for (KernelPath p : {KernelPath::Scalar, KernelPath::SSE2, KernelPath::AVX2, KernelPath::AVX512}) {
        if (path_supported(p)) paths.push_back(p);
    }
    return paths;
}

const char* path_name(KernelPath path) noexcept {
    switch (path) {
        case KernelPath::Scalar: return "scalar";
        case KernelPath::SSE2: return "sse2";
        case KernelPath::AVX2: return "avx2";
        case KernelPath::AVX512: return "avx512";
    }
    return "unknown";
}

KernelPath best_path() noexcept {
    for (KernelPath p : {KernelPath::AVX512, KernelPath::AVX2, KernelPath::SSE2}) {
        if (path_supported(p)) return p;
    }
    return KernelPath::Scalar;
}

KernelPath dispatch_path() noexcept {
    const int pinned = g_override.load(std::memory_order_acquire);
    return pinned == kNoOverride ? best_path() : static_cast<KernelPath>(pinned);
}

bool set_path_override(KernelPath path) noexcept {
    if (!path_supported(path)) return false;
    g_override.store(static_cast<int>(path), std::memory_order_release);
    return true;
}

void clear_path_override() noexcept { g_override.store(kNoOverride, std::memory_order_release); }

}  // namespace zentrova::numeric
