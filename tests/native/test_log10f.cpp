// Native tests of the vectorised log10f and the path dispatch (the Python tests reach them only
// through the engine). Build and run by hand from the repository root, also under sanitizers:
//   mkdir -p build && g++ -std=c++20 -O2 -ffp-contract=off -pthread -Isrc tests/native/test_log10f.cpp
//       src/numeric/cpu_features.cpp src/numeric/log10f.cpp src/numeric/log10f_sse2.cpp
//       src/numeric/log10f_avx2.cpp src/numeric/log10f_avx512.cpp -o build/test_log10f && build/test_log10f
//   (the same with -fsanitize=address,undefined -fno-omit-frame-pointer; one command each)
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "numeric/log10f.hpp"
#include "numeric/log10f_table.hpp"

namespace zn = zentrova::numeric;

namespace {

std::uint32_t bits_of(float x) { return std::bit_cast<std::uint32_t>(x); }

// Deterministic inputs: every kind of special value among mostly ordinary ones.
std::vector<float> mixed_inputs(std::size_t n, std::uint32_t seed) {
    static constexpr std::uint32_t kSpecial[] = {0x00000000u, 0x80000000u, 0x7f800000u, 0xff800000u, 0x7fc00000u,
                                                 0x00000001u, 0x007fffffu, 0xbf800000u, 0x3f800000u, 0x3f7b74ebu};
    std::vector<float> values(n);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const std::uint32_t r = state;
        values[i] = std::bit_cast<float>(r % 7 == 0 ? kSpecial[(r >> 8) % 10] : 0x00800000u + (r >> 1) % 0x7f000000u);
    }
    return values;
}

// True if out[i] has the library's bits for every in[i].
bool same_as_library(const float* in, const float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (bits_of(out[i]) != bits_of(::log10f(in[i]))) return false;
    }
    return true;
}

template <zn::KernelPath P>
void kernel_on(const float* in, float* out, std::size_t n) noexcept {
    zn::log10f_array_on(P, in, out, n);
}

zn::Log10fKernel raw_kernel(zn::KernelPath path) {
    switch (path) {
        case zn::KernelPath::SSE2: return kernel_on<zn::KernelPath::SSE2>;
        case zn::KernelPath::AVX2: return kernel_on<zn::KernelPath::AVX2>;
        case zn::KernelPath::AVX512: return kernel_on<zn::KernelPath::AVX512>;
        case zn::KernelPath::Scalar: break;
    }
    return kernel_on<zn::KernelPath::Scalar>;
}

// Must run first: the choice of path happens on the first call.
void test_first_use_from_two_threads() {
    const std::vector<float> in = mixed_inputs(10007, 1);
    std::vector<float> out_a(in.size()), out_b(in.size());
    std::thread a([&] { zn::log10f_array(in.data(), out_a.data(), in.size()); });
    std::thread b([&] { zn::log10f_array(in.data(), out_b.data(), in.size()); });
    a.join();
    b.join();
    CHECK(same_as_library(in.data(), out_a.data(), in.size()));
    CHECK(same_as_library(in.data(), out_b.data(), in.size()));
    // The widest path is used unless it failed its check against this C library.
    const zn::KernelPath best = zn::best_path();
    CHECK(zn::active_path() == best ||
          (zn::active_path() == zn::KernelPath::Scalar && !zn::matches_library(raw_kernel(best))));
}

void test_every_path_at_every_length_and_alignment() {
    constexpr float kGuard = -12345.0f;
    for (zn::KernelPath path : zn::supported_paths()) {
        bool all_match = true, guards_kept = true, in_place_match = true;
        for (std::size_t n = 0; n <= 70; ++n) {
            for (std::size_t offset = 0; offset < 4; ++offset) {
                const std::vector<float> in = mixed_inputs(n + 8, static_cast<std::uint32_t>(n * 4 + offset + 7));
                std::vector<float> out(n + 8, kGuard);
                CHECK(zn::log10f_array_on(path, in.data() + offset, out.data() + offset, n));
                all_match = all_match && same_as_library(in.data() + offset, out.data() + offset, n);
                for (std::size_t i = 0; i < out.size(); ++i) {
                    if (i < offset || i >= offset + n) guards_kept = guards_kept && out[i] == kGuard;
                }
                std::vector<float> in_place = in;
                zn::log10f_array_on(path, in_place.data() + offset, in_place.data() + offset, n);
                in_place_match = in_place_match && same_as_library(in.data() + offset, in_place.data() + offset, n);
            }
        }
        std::printf("  %s: lengths 0..70 at 4 offsets\n", zn::path_name(path));
        CHECK(all_match);
        CHECK(guards_kept);
        CHECK(in_place_match);
    }
}

void test_forcing_each_path() {
    const std::vector<float> in = mixed_inputs(1001, 3);
    std::vector<float> out(in.size());
    for (zn::KernelPath path : zn::supported_paths()) {
        CHECK(zn::force_path(path));
        CHECK(zn::active_path() == path);
        CHECK(zn::dispatch_path() == path);
        zn::log10f_array(in.data(), out.data(), in.size());
        CHECK(same_as_library(in.data(), out.data(), in.size()));
    }
    const zn::KernelPath before = zn::active_path();
    for (zn::KernelPath path : {zn::KernelPath::SSE2, zn::KernelPath::AVX2, zn::KernelPath::AVX512}) {
        if (zn::path_supported(path)) continue;
        CHECK(!zn::force_path(path));
        CHECK(zn::active_path() == before);
        CHECK(zn::dispatch_path() == before);
    }
    zn::reset_path();
    CHECK(zn::dispatch_path() == zn::best_path());
    CHECK(zn::active_path() == zn::best_path());
}

void test_paths_and_features_agree() {
    const std::vector<zn::KernelPath> paths = zn::supported_paths();
    CHECK(!paths.empty() && paths.front() == zn::KernelPath::Scalar);
    CHECK(std::is_sorted(paths.begin(), paths.end()));
    CHECK(paths.back() == zn::best_path());
    const zn::CpuFeatures& f = zn::cpu_features();
    CHECK(zn::path_supported(zn::KernelPath::AVX2) == f.avx2);
    CHECK(zn::path_supported(zn::KernelPath::AVX512) == f.avx512f);
#if defined(ZENTROVA_X86_SIMD)
    CHECK(f.sse2 && zn::path_supported(zn::KernelPath::SSE2));
#else
    CHECK(paths.size() == 1);
#endif
    CHECK(std::string(zn::path_name(zn::KernelPath::Scalar)) == "scalar");
    CHECK(std::string(zn::path_name(zn::KernelPath::SSE2)) == "sse2");
    CHECK(std::string(zn::path_name(zn::KernelPath::AVX2)) == "avx2");
    CHECK(std::string(zn::path_name(zn::KernelPath::AVX512)) == "avx512");
    CHECK(!zn::log10f_array_on(static_cast<zn::KernelPath>(7), nullptr, nullptr, 0));
}

// Faulty kernels the first-use check must reject: each is the library except for one flaw.
void library_calls(const float* in, float* out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = ::log10f(in[i]);
}
void wrong_on_worst_case(const float* in, float* out, std::size_t n) noexcept {
    library_calls(in, out, n);
    for (std::size_t i = 0; i < n; ++i) {
        if (bits_of(in[i]) == 0x3f7b74ebu) out[i] = std::nextafterf(out[i], 0.0f);
    }
}
void subnormals_flushed(const float* in, float* out, std::size_t n) noexcept {
    library_calls(in, out, n);
    for (std::size_t i = 0; i < n; ++i) {
        if (in[i] > 0.0f && in[i] < 0x1p-126f) out[i] = -INFINITY;
    }
}
void wrong_in_place(const float* in, float* out, std::size_t n) noexcept {
    library_calls(in, out, n);
    if (in == out && n > 0) out[n / 2] = 0.0f;
}
void wrong_in_partial_block(const float* in, float* out, std::size_t n) noexcept {
    library_calls(in, out, n);
    if (n % 8 != 0) out[n - 1] = std::nextafterf(out[n - 1], INFINITY);
}
void last_bit_off_near_one(const float* in, float* out, std::size_t n) noexcept {
    library_calls(in, out, n);
    for (std::size_t i = 0; i < n; ++i) {
        if (std::fabs(in[i] - 1.0f) < 1e-5f && in[i] != 1.0f) out[i] = std::nextafterf(out[i], INFINITY);
    }
}
void one_table_entry_off(const float* in, float* out, std::size_t n) noexcept {
    namespace d = zn::log10f_data;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t hx = bits_of(in[i]);
        float e = 0.0f;
        const std::uint32_t m = d::split_exponent(hx, e);
        // As if the table entry for index 5 were rounded differently.
        const bool entry_5 = ((m - d::kTableOffset) >> 19) % 16 == 5;
        out[i] = d::needs_library(hx) || !entry_5 ? ::log10f(in[i]) : std::nextafterf(::log10f(in[i]), 0.0f);
    }
}

void test_check_rejects_faulty_kernels() {
    CHECK(zn::matches_library(library_calls));
    for (zn::KernelPath path : zn::supported_paths()) CHECK(zn::matches_library(raw_kernel(path)));
    CHECK(!zn::matches_library(wrong_on_worst_case));
    CHECK(!zn::matches_library(subnormals_flushed));
    CHECK(!zn::matches_library(wrong_in_place));
    CHECK(!zn::matches_library(wrong_in_partial_block));
    CHECK(!zn::matches_library(last_bit_off_near_one));
    CHECK(!zn::matches_library(one_table_entry_off));
}

// The written-out steps (the vector paths' model) give the library's bits on a sample of
// positive normal inputs; the exhaustive tool checks all of them.
void test_scalar_steps_match_library() {
    std::uint32_t state = 99;
    std::size_t differ = 0;
    for (int i = 0; i < 300000; ++i) {
        state = state * 1664525u + 1013904223u;
        const float x = std::bit_cast<float>(0x00800000u + state % 0x7f000000u);
        if (bits_of(zn::log10f_data::log10f_reference(x)) != bits_of(::log10f(x))) ++differ;
    }
    CHECK(differ == 0);
}

}  // namespace

int main() {
    test_first_use_from_two_threads();
    test_every_path_at_every_length_and_alignment();
    test_forcing_each_path();
    test_paths_and_features_agree();
    test_check_rejects_faulty_kernels();
    test_scalar_steps_match_library();
    return native_check::report();
}
