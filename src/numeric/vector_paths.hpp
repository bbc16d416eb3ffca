// One kernel source, compiled for each vector path. run_on_vector_path(body) calls body
// through a wrapper built for the path dispatch_path() names; the wrapper is flattened, so
// body and everything it calls that can be inlined is compiled for that path, while what
// stays a call runs its baseline code. No function is compiled for a wider path outside
// those wrappers, so the linker can never hand wide code to the baseline path.
//
// Every kernel run this way does the same operations in the same order on every path
// (-ffp-contract=off keeps products and sums apart, and floating-point reductions are never
// reordered), so the results are identical; the tests compare them path by path.
#pragma once

#include "numeric/cpu_features.hpp"

namespace zentrova::numeric {
namespace vector_detail {

#if defined(ZENTROVA_X86_SIMD)
template <class Body>
__attribute__((target("avx2"), flatten)) void run_avx2(Body& body) {
    body();
}

template <class Body>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"), flatten)) void run_avx512(Body& body) {
    body();
}

// The 512-bit wrapper uses all four extensions; a CPU with only some of them takes AVX2.
inline bool full_avx512() noexcept {
    const CpuFeatures& f = cpu_features();
    return f.avx512f && f.avx512bw && f.avx512dq && f.avx512vl;
}
#endif

}  // namespace vector_detail

template <class Body>
void run_on_vector_path(Body&& body) {
#if defined(ZENTROVA_X86_SIMD)
    switch (dispatch_path()) {
        case KernelPath::AVX512:
            if (vector_detail::full_avx512()) return vector_detail::run_avx512(body);
            return vector_detail::run_avx2(body);
        case KernelPath::AVX2: return vector_detail::run_avx2(body);
        case KernelPath::SSE2:
        case KernelPath::Scalar: break;
    }
#endif
    body();
}

}  // namespace zentrova::numeric
