// One kernel source, compiled for each vector path. run_on_vector_path(body) calls
// body(tag) through a wrapper built for the path dispatch_path() names (the tag, one of
// the isa types, lets a kernel pick hand-written code for it); the wrapper is flattened, so
// body and everything it calls that can be inlined is compiled for that path, while what
// stays a call runs its baseline code. No function is compiled for a wider path outside
// those wrappers, so the linker can never hand wide code to the baseline path.
//
// Every kernel run this way does the same operations in the same order on every path
// (-ffp-contract=off keeps products and sums apart, and floating-point reductions are never
// reordered), so the results are identical; the tests compare them path by path.
#pragma once

#include "numeric/cpu_features.hpp"

#include <type_traits>

namespace zentrova::numeric {

namespace isa {
struct Portable {};  // the baseline build (the scalar path)
struct Sse2 {};      // 128-bit registers, which every x86-64 CPU has
struct Avx2 {};      // 256-bit registers; native 64-bit compares
struct Avx512 {};    // the Avx2 kernels, the compiler free to use AVX-512
template <class Isa>
inline constexpr bool wide = std::is_same_v<Isa, Avx2> || std::is_same_v<Isa, Avx512>;
}  // namespace isa

namespace vector_detail {

#if defined(ZENTROVA_X86_SIMD)
template <class Body>
__attribute__((target("avx2"), flatten)) void run_avx2(Body& body) {
    body(isa::Avx2{});
}

template <class Body>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"), flatten)) void run_avx512(Body& body) {
    body(isa::Avx512{});
}
#endif

}  // namespace vector_detail

template <class Body>
void run_on_vector_path(Body&& body) {
#if defined(ZENTROVA_X86_SIMD)
    switch (dispatch_path()) {
        case KernelPath::AVX512: return vector_detail::run_avx512(body);
        case KernelPath::AVX2: return vector_detail::run_avx2(body);
        case KernelPath::SSE2: return body(isa::Sse2{});
        case KernelPath::Scalar: break;
    }
#endif
    body(isa::Portable{});
}

}  // namespace zentrova::numeric
