// What this CPU can run, read once, and the one choice of vector path that every hot kernel
// follows. Kernels pick their variant with dispatch_path(); tests pin a path with
// set_path_override() (or force_path() in log10f.hpp, which also re-checks log10f), so all
// kernels switch together and results can be compared path by path.
#pragma once

#include <vector>

// The x86-64 vector paths are built with GCC or Clang on x86-64, unless ZENTROVA_NO_X86_SIMD is
// defined (a scalar-only build, also a way to try the non-x86 code on x86).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(ZENTROVA_NO_X86_SIMD)
#define ZENTROVA_X86_SIMD 1
#endif

namespace zentrova::numeric {

// Ordered from narrowest to widest. SSE2 is the 4-lane path every x86-64 CPU can run.
enum class KernelPath : int { Scalar = 0, SSE2 = 1, AVX2 = 2, AVX512 = 3 };

struct CpuFeatures {
    bool sse2 = false;
    bool sse4_1 = false;
    bool avx = false;
    bool fma = false;
    bool avx2 = false;
    bool avx512f = false;
    bool avx512dq = false;
    bool avx512bw = false;
    bool avx512vl = false;
};

// Read on first call (thread-safe), then cached. All false on non-x86 builds.
const CpuFeatures& cpu_features() noexcept;

// Whether this build and CPU can run kernels of this path. Scalar always can.
bool path_supported(KernelPath path) noexcept;

// Every path this CPU can run, Scalar first, widest last.
std::vector<KernelPath> supported_paths();

// "scalar", "sse2", "avx2", "avx512"; "unknown" for a value outside the enum.
const char* path_name(KernelPath path) noexcept;

// The widest supported path.
KernelPath best_path() noexcept;

// The path kernels should use now: the override if one is set, else best_path().
KernelPath dispatch_path() noexcept;

// Pin every kernel to this path; false (and no change) if this CPU cannot run it.
bool set_path_override(KernelPath path) noexcept;

// Back to best_path().
void clear_path_override() noexcept;

}  // namespace zentrova::numeric
