// Labelling of one block of rows under both candidate rules at once. A row of
// a numeric column gets two bits: bit 0 "equals the label", bit 1 "is at least
// the label". Which rule counts is decided only when metrics are asked for:
// equality when the whole column holds exactly two distinct 32-bit keys,
// greater-or-equal otherwise. A text row is either equal or not, so both bits
// carry its match.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "engine/columns.hpp"
#include "metrics/labelling/text_labels.hpp"
#include "numeric/vector_paths.hpp"

#if defined(ZENTROVA_X86_SIMD)
#include <immintrin.h>
#endif

namespace zentrova::engine {

inline constexpr std::uint8_t equal_bit = 1, at_least_bit = 2;

// The instruction sets the labelling and counting kernels are instantiated
// for, one per numeric::KernelPath. Avx2 and Avx512 code runs only inside a
// function compiled for that target (bias_stats.cpp), which inlines all of it.
namespace isa = numeric::isa;

// Thrown by a labelling pass asked to check code points (LabelInput::
// code_points_unchecked) when a row holds one no str can hold.
struct InvalidCodePoints {};

// The most rows labelled at once.
inline constexpr std::size_t label_block_rows = 2048;

// Up to two distinct keys, or the knowledge that there are more.
struct DistinctKeys {
    std::uint8_t count = 0;
    bool many = false;
    std::int32_t keys[2] = {0, 0};  // ascending when count is 2

    void insert(std::int32_t key) noexcept {
        if (many) return;
        for (std::uint8_t i = 0; i < count; ++i)
            if (keys[i] == key) return;
        if (count == 2) {
            *this = DistinctKeys{};
            many = true;
            return;
        }
        keys[count++] = key;
        if (count == 2 && keys[0] > keys[1]) std::swap(keys[0], keys[1]);
    }
    void merge(const DistinctKeys& other) noexcept {
        if (other.many) {
            *this = DistinctKeys{};
            many = true;
            return;
        }
        for (std::uint8_t i = 0; i < other.count; ++i) insert(other.keys[i]);
    }
    bool exactly_two() const noexcept { return !many && count == 2; }
    bool valid() const noexcept {
        if (many) return count == 0 && keys[0] == 0 && keys[1] == 0;
        if (count > 2) return false;
        if (count < 2 && keys[1] != 0) return false;
        if (count == 0 && keys[0] != 0) return false;
        return count < 2 || keys[0] < keys[1];
    }
    friend bool operator==(const DistinctKeys&, const DistinctKeys&) = default;
};

// Truncation toward zero, saturating, NaN to 0; written as the selections of
// a vector maximum and minimum, so a loop of it vectorises.
inline std::int32_t truncate_to_i32(double value) noexcept {
    double clamped = value > -2147483648.0 ? value : -2147483648.0;
    clamped = clamped < 2147483647.0 ? clamped : 2147483647.0;
    return static_cast<std::int32_t>(value == value ? clamped : 0.0);
}

// Truncation toward zero, saturating, NaN to 0: a float label of an integer column.
inline std::int64_t truncate_to_i64(double value) noexcept {
    if (value != value) return 0;
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (value < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

template <class S>
std::int32_t distinct_key(S value) noexcept {
    if constexpr (std::is_integral_v<S>)
        // the low 32 bits, wrapping
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
    else
        return truncate_to_i32(static_cast<double>(value));
}

// Calls body(at) with an accessor of rows [start, start + count): a plain
// pointer for aligned contiguous memory, so loops vectorise, else a strided read.
template <class S, class Body>
void with_rows(const columns::ColumnView& column, std::size_t start, Body&& body) {
    const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
    if (column.stride == static_cast<std::ptrdiff_t>(sizeof(S)) &&
        reinterpret_cast<std::uintptr_t>(base) % alignof(S) == 0) {
        const S* values = reinterpret_cast<const S*>(base);
        body([values](std::size_t k) { return values[k]; });
        return;
    }
    const std::ptrdiff_t stride = column.stride;
    body([base, stride](std::size_t k) {
        S value;
        std::memcpy(&value, base + static_cast<std::ptrdiff_t>(k) * stride, sizeof value);
        return value;
    });
}

// Adds the keys of `count` rows; a block whose keys are all known already
// costs one vectorised pass.
// What a labelling pass learnt about rows without a value (NaN).
enum class Gaps : std::uint8_t { None, Some, Unknown };

// Returns, for a float column whose block was compared with its known keys,
// whether a NaN was among the rows (the key's own NaN test, shared); Unknown
// where no such comparison ran, and None for integers, which always have a value.
template <class S, class At>
Gaps scan_keys(At at, std::size_t count, DistinctKeys& keys) noexcept {
    constexpr Gaps unread = std::is_floating_point_v<S> ? Gaps::Unknown : Gaps::None;
    if (keys.many) return unread;
    if (keys.count > 0) {
        const std::int32_t a = keys.keys[0], b = keys.count == 2 ? keys.keys[1] : keys.keys[0];
        std::uint32_t other = 0, unordered = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const S v = at(k);
            const std::int32_t key = distinct_key<S>(v);
            other |= static_cast<std::uint32_t>(key != a) & static_cast<std::uint32_t>(key != b);
            if constexpr (std::is_floating_point_v<S>) unordered |= static_cast<std::uint32_t>(v != v);
        }
        if (other == 0) {
            if constexpr (std::is_floating_point_v<S>) return unordered != 0 ? Gaps::Some : Gaps::None;
            return Gaps::None;
        }
    }
    for (std::size_t k = 0; k < count && !keys.many; ++k) keys.insert(distinct_key<S>(at(k)));
    return unread;
}

// Signed 64-bit comparisons from subtraction, xor and shifts, which vectorise
// with the baseline instruction set (it has no 64-bit compare).
inline std::uint8_t equal_i64(std::int64_t value, std::int64_t label) noexcept {
    const auto x = static_cast<std::uint64_t>(value ^ label);
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(x | (x >> 32)) == 0);
}
inline std::uint8_t at_least_i64(std::int64_t value, std::int64_t threshold) noexcept {
    const auto x = static_cast<std::uint64_t>(value), y = static_cast<std::uint64_t>(threshold);
    const std::uint64_t difference = x - y;
    const std::uint64_t less = (difference ^ ((x ^ y) & (difference ^ x))) >> 63;
    return static_cast<std::uint8_t>(less ^ 1);
}

template <class Isa, class S>
Gaps label_numeric_block(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                         std::uint8_t* out, DistinctKeys& keys) {
    Gaps gaps = std::is_floating_point_v<S> ? Gaps::Unknown : Gaps::None;
    with_rows<S>(input.view, start, [count, out, &input, &keys, &gaps](auto at) {
        // Labels are bytes, which may alias anything, the closure included:
        // every value a loop reads is a local, so the loops vectorise.
        const std::size_t n = count;
        std::uint8_t* __restrict const labels = out;
        if constexpr (isa::wide<Isa> && std::is_same_v<S, std::int64_t>) {
            // A column known to hold two keys (a 0/1 outcome, say) is labelled
            // and checked for a third key in one pass; a block that has one
            // adds its keys afterwards. Its equality bits are then never read.
            if (!keys.many && keys.count == 2) {
                const std::int64_t threshold = input.integer_label;
                const auto a = static_cast<std::uint32_t>(keys.keys[0]), b = static_cast<std::uint32_t>(keys.keys[1]);
                std::uint32_t other = 0;
                for (std::size_t k = 0; k < n; ++k) {
                    const std::int64_t v = at(k);
                    const auto key = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v));
                    other |= static_cast<std::uint32_t>(key != a) & static_cast<std::uint32_t>(key != b);
                    labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(v == threshold) |
                                                          (static_cast<std::uint8_t>(v >= threshold) << 1));
                }
                if (other != 0)
                    for (std::size_t k = 0; k < n && !keys.many; ++k) keys.insert(distinct_key<S>(at(k)));
                return;
            }
        }
        gaps = scan_keys<S>(at, n, keys);
        // With three distinct keys the column's rule is greater-or-equal for
        // good: the equality bit is left 0 (it will never be read).
        const bool threshold_only = keys.many;
        if constexpr (std::is_floating_point_v<S>) {
            // Two passes that each vectorise (one fused loop does not): the
            // bits as small floats, then as bytes.
            const double threshold = input.float_label;
            std::array<float, label_block_rows> code;
            if (threshold_only) {
                for (std::size_t k = 0; k < n; ++k) code[k] = static_cast<double>(at(k)) >= threshold ? 2.0f : 0.0f;
            } else {
                for (std::size_t k = 0; k < n; ++k) {
                    const double v = static_cast<double>(at(k));
                    code[k] = (v >= threshold ? 2.0f : 0.0f) + (v == threshold ? 1.0f : 0.0f);
                }
            }
            for (std::size_t k = 0; k < n; ++k) labels[k] = static_cast<std::uint8_t>(static_cast<std::int32_t>(code[k]));
        } else if constexpr (std::is_same_v<S, std::int64_t>) {
            const std::int64_t threshold = input.integer_label;
            if constexpr (isa::wide<Isa>) {
                // AVX2 compares 64-bit lanes in one instruction.
                if (threshold_only) {
                    for (std::size_t k = 0; k < n; ++k)
                        labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(at(k) >= threshold) << 1);
                    return;
                }
                for (std::size_t k = 0; k < n; ++k) {
                    const std::int64_t v = at(k);
                    labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(v == threshold) |
                                                          (static_cast<std::uint8_t>(v >= threshold) << 1));
                }
                return;
            }
            if (threshold_only) {
                for (std::size_t k = 0; k < n; ++k)
                    labels[k] = static_cast<std::uint8_t>(at_least_i64(at(k), threshold) << 1);
                return;
            }
            for (std::size_t k = 0; k < n; ++k)
                labels[k] = static_cast<std::uint8_t>(equal_i64(at(k), threshold) |
                                                      (at_least_i64(at(k), threshold) << 1));
        } else {
            // A narrower column compares in its own width; a label outside its
            // range gives the same answer for every row.
            constexpr auto lowest = static_cast<std::int64_t>(std::numeric_limits<S>::min());
            constexpr auto highest = static_cast<std::int64_t>(std::numeric_limits<S>::max());
            const std::int64_t label = input.integer_label;
            if (label < lowest || label > highest) {
                std::fill(labels, labels + n, static_cast<std::uint8_t>(label < lowest ? at_least_bit : 0));
                return;
            }
            const auto threshold = static_cast<S>(label);
            if (threshold_only) {
                for (std::size_t k = 0; k < n; ++k)
                    labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(at(k) >= threshold) << 1);
                return;
            }
            for (std::size_t k = 0; k < n; ++k) {
                const S v = at(k);
                labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(v == threshold) |
                                                      (static_cast<std::uint8_t>(v >= threshold) << 1));
            }
        }
    });
    return gaps;
}

// Rows of `Width` code points equal to `pattern`, compared in 64-bit words
// (and one 32-bit word for an odd width); Width 0 is any width, one code
// point at a time.
template <std::size_t Width>
void match_text_rows(const char* rows, std::ptrdiff_t stride, std::size_t count, std::size_t width,
                     const std::uint32_t* pattern, std::uint8_t* __restrict out) {
    if constexpr (Width == 0) {
        for (std::size_t k = 0; k < count; ++k) {
            const char* row = rows + static_cast<std::ptrdiff_t>(k) * stride;
            std::uint32_t difference = 0;
            for (std::size_t j = 0; j < width; ++j) {
                std::uint32_t c;
                std::memcpy(&c, row + j * sizeof c, sizeof c);
                difference |= c ^ pattern[j];
            }
            const std::uint32_t differs = (difference | (0u - difference)) >> 31;
            out[k] = static_cast<std::uint8_t>((differs ^ 1u) * (equal_bit | at_least_bit));
        }
    } else {
        constexpr std::size_t words = Width / 2;
        std::uint64_t wide[words > 0 ? words : 1] = {};
        std::memcpy(wide, pattern, words * sizeof(std::uint64_t));
        const std::uint32_t last = Width % 2 ? pattern[Width - 1] : 0;
        for (std::size_t k = 0; k < count; ++k) {
            const char* row = rows + static_cast<std::ptrdiff_t>(k) * stride;
            std::uint64_t difference = 0;
            for (std::size_t j = 0; j < words; ++j) {
                std::uint64_t word;
                std::memcpy(&word, row + j * sizeof word, sizeof word);
                difference |= word ^ wide[j];
            }
            if constexpr (Width % 2 != 0) {
                std::uint32_t c;
                std::memcpy(&c, row + (Width - 1) * sizeof c, sizeof c);
                difference |= c ^ last;
            }
            // Without a branch (which rows match is as unpredictable as the data):
            // the top bit of d | -d is set exactly when d is not 0.
            const std::uint64_t differs = (difference | (0 - difference)) >> 63;
            out[k] = static_cast<std::uint8_t>((differs ^ 1) * (equal_bit | at_least_bit));
        }
    }
}

#if defined(ZENTROVA_X86_SIMD)
namespace x86 {

// Rows of Width code points compared Rows at a time: bit r * Width + j of
// `equal` says whether code point j of row r equals the label's. A row matches
// when all its Width bits are set.
template <std::size_t Width, std::size_t Rows, class Mask>
inline void rows_from_mask(Mask equal, std::uint8_t* out) noexcept {
    constexpr Mask full = (Mask{1} << Width) - 1;
    for (std::size_t r = 0; r < Rows; ++r)
        out[r] = static_cast<std::uint8_t>((((equal >> (r * Width)) & full) == full) * (equal_bit | at_least_bit));
}

// Wide enough for the bits of one step: 4 rows of up to 16 code points fit 64
// bits, 8 rows need 128 beyond 8 code points.
__extension__ typedef unsigned __int128 Bits128;
template <std::size_t Bits>
using MaskOf = std::conditional_t<(Bits <= 64), std::uint64_t, Bits128>;

// The label repeated in phase: lane i of register j holds the code point that
// row offset (Lanes * j + i) of a run of rows holds when it matches.
template <std::size_t Width, std::size_t Lanes>
inline void pattern_in_phase(const std::uint32_t* pattern, std::uint32_t (&lanes)[Width * Lanes]) noexcept {
    for (std::size_t i = 0; i < Width * Lanes; ++i) lanes[i] = pattern[i % Width];
}

// Matches the first count - count % 4 contiguous rows; returns how many, and
// ORs into `invalid` whether any of their code points is a surrogate or above
// U+10FFFF (unsigned compares by flipping the sign bit).
template <std::size_t Width>
std::size_t match_rows_sse2(const char* rows, std::size_t count, const std::uint32_t* pattern, std::uint8_t* out,
                            std::uint32_t& invalid) noexcept {
    std::uint32_t lanes[Width * 4];
    pattern_in_phase<Width, 4>(pattern, lanes);
    __m128i phase[Width];
    for (std::size_t j = 0; j < Width; ++j) phase[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + 4 * j));
    const __m128i sign = _mm_set1_epi32(INT32_MIN), surrogates = _mm_set1_epi32(0xD800);
    const __m128i highest = _mm_set1_epi32(static_cast<std::int32_t>(0x10FFFFu ^ 0x80000000u));
    const __m128i surrogate_end = _mm_set1_epi32(static_cast<std::int32_t>(0x800u ^ 0x80000000u));
    __m128i bad = _mm_setzero_si128();
    std::size_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const char* run = rows + k * Width * sizeof(std::uint32_t);
        MaskOf<4 * Width> equal = 0;
        for (std::size_t j = 0; j < Width; ++j) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + 16 * j));
            const auto bits = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, phase[j]))));
            equal |= static_cast<MaskOf<4 * Width>>(bits) << (4 * j);
            bad = _mm_or_si128(bad, _mm_cmpgt_epi32(_mm_xor_si128(v, sign), highest));
            bad = _mm_or_si128(bad, _mm_cmplt_epi32(_mm_xor_si128(_mm_sub_epi32(v, surrogates), sign), surrogate_end));
        }
        rows_from_mask<Width, 4>(equal, out + k);
    }
    invalid |= static_cast<std::uint32_t>(_mm_movemask_epi8(bad) != 0);
    return k;
}

// The same, 8 rows a step in 256-bit registers; unsigned minimum and maximum
// replace the compares of the validity check.
template <std::size_t Width>
__attribute__((target("avx2"))) std::size_t match_rows_avx2(const char* rows, std::size_t count,
                                                            const std::uint32_t* pattern, std::uint8_t* out,
                                                            std::uint32_t& invalid) noexcept {
    std::uint32_t lanes[Width * 8];
    pattern_in_phase<Width, 8>(pattern, lanes);
    __m256i phase[Width];
    for (std::size_t j = 0; j < Width; ++j)
        phase[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 8 * j));
    const __m256i surrogates = _mm256_set1_epi32(0xD800);
    __m256i highest = _mm256_setzero_si256(), lowest = _mm256_set1_epi32(-1);
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const char* run = rows + k * Width * sizeof(std::uint32_t);
        MaskOf<8 * Width> equal = 0;
        for (std::size_t j = 0; j < Width; ++j) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run + 32 * j));
            const auto bits =
                static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, phase[j]))));
            equal |= static_cast<MaskOf<8 * Width>>(bits) << (8 * j);
            highest = _mm256_max_epu32(highest, v);
            lowest = _mm256_min_epu32(lowest, _mm256_sub_epi32(v, surrogates));
        }
        rows_from_mask<Width, 8>(equal, out + k);
    }
    const __m256i limit = _mm256_set1_epi32(0x10FFFF);
    const __m256i capped = _mm256_cmpeq_epi32(_mm256_max_epu32(highest, limit), limit);  // lanes <= U+10FFFF
    const __m256i surrogate = _mm256_cmpeq_epi32(_mm256_min_epu32(lowest, _mm256_set1_epi32(0x7FF)), lowest);
    invalid |= static_cast<std::uint32_t>(_mm256_movemask_epi8(capped) != -1) |
               static_cast<std::uint32_t>(_mm256_movemask_epi8(surrogate) != 0);
    return k;
}

}  // namespace x86
#endif

// Contiguous rows of `Width` code points: the vector matcher of the
// instruction set for whole steps, the scalar loop for the rest.
template <class Isa, std::size_t Width>
void match_text_block(const char* rows, std::ptrdiff_t stride, std::size_t count, const std::uint32_t* pattern,
                      std::uint8_t* out, bool check, std::uint32_t& invalid) {
    std::size_t done = 0;
#if defined(ZENTROVA_X86_SIMD)
    if constexpr (Width > 0 && isa::wide<Isa>)
        done = x86::match_rows_avx2<Width>(rows, count, pattern, out, invalid);
    else if constexpr (Width > 0 && std::is_same_v<Isa, isa::Sse2>)
        done = x86::match_rows_sse2<Width>(rows, count, pattern, out, invalid);
#endif
    const char* rest = rows + static_cast<std::ptrdiff_t>(done) * stride;
    match_text_rows<Width>(rest, stride, count - done, Width, pattern, out + done);
    if (check) invalid |= static_cast<std::uint32_t>(!labelling::all_code_points_valid(rest, stride, count - done, Width));
}

// Fixed-width text rows equal to the label: the label's code points, then NULs.
// With `code_points_unchecked` the same pass checks that every code point is
// one a str can hold, and throws InvalidCodePoints otherwise.
template <class Isa>
void label_unicode_block(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                         std::uint8_t* out) {
    const columns::ColumnView& view = input.view;
    const labelling::TextLabel& label = input.text_label;
    const std::size_t width = view.itemsize / sizeof(std::uint32_t);
    const char* rows = view.data + static_cast<std::ptrdiff_t>(start) * view.stride;
    // A row never ends with NUL, so a label that does (or that is wider than a
    // row) matches nothing; rows of no code points are all the empty text.
    const bool can_match = label.usable && label.code_points.size() <= width &&
                           (label.code_points.empty() || label.code_points.back() != 0);
    constexpr std::size_t narrow = 16;
    const bool contiguous = view.stride == static_cast<std::ptrdiff_t>(width * sizeof(std::uint32_t));
    if (!can_match || width == 0 || width > narrow || !contiguous) {
        if (input.code_points_unchecked && !labelling::all_code_points_valid(rows, view.stride, count, width))
            throw InvalidCodePoints{};
    }
    if (!can_match || width == 0) {
        std::fill(out, out + count, can_match ? static_cast<std::uint8_t>(equal_bit | at_least_bit) : std::uint8_t{0});
        return;
    }
    std::array<std::uint32_t, narrow> inline_pattern{};
    std::vector<std::uint32_t> wide_pattern;
    std::uint32_t* pattern = inline_pattern.data();
    if (width > narrow) {
        wide_pattern.assign(width, 0);
        pattern = wide_pattern.data();
    }
    std::copy(label.code_points.begin(), label.code_points.end(), pattern);
    if (width > narrow) return match_text_rows<0>(rows, view.stride, count, width, pattern, out);
    std::uint32_t invalid = 0;
    // A switch rather than a table of pointers, so that each width inlines
    // into the caller compiled for the instruction set.
    auto match = [&]<std::size_t Width>(std::integral_constant<std::size_t, Width>) {
        if (contiguous)
            match_text_block<Isa, Width>(rows, view.stride, count, pattern, out, input.code_points_unchecked,
                                         invalid);
        else
            match_text_rows<Width>(rows, view.stride, count, Width, pattern, out);
    };
    switch (width) {
#define ZENTROVA_TEXT_WIDTH(w) \
    case w: match(std::integral_constant<std::size_t, w>{}); break;
        ZENTROVA_TEXT_WIDTH(1) ZENTROVA_TEXT_WIDTH(2) ZENTROVA_TEXT_WIDTH(3) ZENTROVA_TEXT_WIDTH(4)
        ZENTROVA_TEXT_WIDTH(5) ZENTROVA_TEXT_WIDTH(6) ZENTROVA_TEXT_WIDTH(7) ZENTROVA_TEXT_WIDTH(8)
        ZENTROVA_TEXT_WIDTH(9) ZENTROVA_TEXT_WIDTH(10) ZENTROVA_TEXT_WIDTH(11) ZENTROVA_TEXT_WIDTH(12)
        ZENTROVA_TEXT_WIDTH(13) ZENTROVA_TEXT_WIDTH(14) ZENTROVA_TEXT_WIDTH(15) ZENTROVA_TEXT_WIDTH(16)
#undef ZENTROVA_TEXT_WIDTH
        default: break;
    }
    if (invalid != 0 && input.code_points_unchecked) throw InvalidCodePoints{};
}

// Both rule bits of rows [start, start + count) of a column, and its keys;
// returns what was learnt about NaN rows on the way.
template <class Isa>
Gaps label_block(const labelling::LabelInput& input, std::size_t start, std::size_t count, std::uint8_t* out,
                 DistinctKeys& keys) {
    switch (input.view.kind) {
        case columns::ElementKind::Int16:
            return label_numeric_block<Isa, std::int16_t>(input, start, count, out, keys);
        case columns::ElementKind::Int32:
            return label_numeric_block<Isa, std::int32_t>(input, start, count, out, keys);
        case columns::ElementKind::Int64:
            return label_numeric_block<Isa, std::int64_t>(input, start, count, out, keys);
        case columns::ElementKind::Float32: return label_numeric_block<Isa, float>(input, start, count, out, keys);
        case columns::ElementKind::Float64: return label_numeric_block<Isa, double>(input, start, count, out, keys);
        case columns::ElementKind::Unicode: label_unicode_block<Isa>(input, start, count, out); return Gaps::None;
        case columns::ElementKind::Other: break;
    }
    // Text rows read item by item, compared as UTF-8.
    const labelling::TextLabel& label = input.text_label;
    for (std::size_t k = 0; k < count; ++k)
        out[k] = label.usable && input.rows[start + k] == label.utf8 ? static_cast<std::uint8_t>(equal_bit | at_least_bit)
                                                                     : 0;
    return Gaps::None;
}

// The keys of rows [start, start + count) that are not counted (beyond the
// shortest column of a batch), which still decide the column's rule.
inline void scan_block_keys(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                            DistinctKeys& keys) {
    if (columns::family_of(input.view.kind) == columns::Family::Text) {
        // Text rows beyond the counted ones are still checked when asked to.
        const columns::ColumnView& view = input.view;
        if (view.kind == columns::ElementKind::Unicode && input.code_points_unchecked &&
            !labelling::all_code_points_valid(view.data + static_cast<std::ptrdiff_t>(start) * view.stride,
                                              view.stride, count, view.itemsize / sizeof(std::uint32_t)))
            throw InvalidCodePoints{};
        return;
    }
    columns::visit_numeric(input.view.kind, [&]<class S>(S) {
        with_rows<S>(input.view, start, [&](auto at) { scan_keys<S>(at, count, keys); });
    });
}

}  // namespace zentrova::engine
