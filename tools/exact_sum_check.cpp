// Checks numeric::ExactSum against an independent exact reference and reports
// its speed. Build and run from the repository root (each command on one line):
//
//   g++ -std=c++20 -O3 -ffp-contract=off -Wall -Wextra -Isrc
//       tools/exact_sum_check.cpp src/numeric/exact_sum.cpp src/numeric/cpu_features.cpp -o /tmp/exact_sum_check
//       && /tmp/exact_sum_check
//
// and once more under the sanitizers (the speed figures then mean nothing):
//
//   g++ -std=c++20 -O1 -g -ffp-contract=off -fsanitize=address,undefined -fno-sanitize-recover=all -Isrc
//       tools/exact_sum_check.cpp src/numeric/exact_sum.cpp src/numeric/cpu_features.cpp
//       -o /tmp/exact_sum_check_san && /tmp/exact_sum_check_san
//
// The reference keeps values as sign-magnitude big integers in units of 2^-298
// (every float and every square of a float is a whole number of them) and
// rounds by binary search over float bit patterns, sharing no code with the
// library. Exit status 0 when every check passes.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <time.h>
#include <string>
#include <utility>
#include <vector>

#include "numeric/cpu_features.hpp"
#include "numeric/exact_sum.hpp"

using zentrova::numeric::ExactSum;

namespace {

int failures = 0;
int checks = 0;

void expect(bool ok, const char* what, const std::string& detail = {}) {
    ++checks;
    if (ok) return;
    ++failures;
    if (failures <= 30) std::printf("FAIL %s %s\n", what, detail.c_str());
}

std::string hex(float f) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%a (0x%08x)", static_cast<double>(f), std::bit_cast<std::uint32_t>(f));
    return buffer;
}

bool same_bits(float a, float b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// ---- reference arithmetic -------------------------------------------------

struct Big {
    bool negative = false;
    std::vector<std::uint32_t> mag;  // little-endian base 2^32, no leading zeros

    void trim() {
        while (!mag.empty() && mag.back() == 0) mag.pop_back();
        if (mag.empty()) negative = false;
    }
    bool zero() const { return mag.empty(); }
};

int compare_mag(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

std::vector<std::uint32_t> add_mag(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    std::vector<std::uint32_t> r(std::max(a.size(), b.size()) + 1, 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        const std::uint64_t s = carry + (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        r[i] = static_cast<std::uint32_t>(s);
        carry = s >> 32;
    }
    return r;
}

// a - b with |a| >= |b|.
std::vector<std::uint32_t> sub_mag(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    std::vector<std::uint32_t> r(a.size(), 0);
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::int64_t d = static_cast<std::int64_t>(a[i]) - (i < b.size() ? b[i] : 0) - borrow;
        borrow = d < 0;
        if (d < 0) d += std::int64_t{1} << 32;
        r[i] = static_cast<std::uint32_t>(d);
    }
    return r;
}

Big add(const Big& a, const Big& b) {
    Big r;
    if (a.negative == b.negative) {
        r.mag = add_mag(a.mag, b.mag);
        r.negative = a.negative;
    } else if (compare_mag(a.mag, b.mag) >= 0) {
        r.mag = sub_mag(a.mag, b.mag);
        r.negative = a.negative;
    } else {
        r.mag = sub_mag(b.mag, a.mag);
        r.negative = b.negative;
    }
    r.trim();
    return r;
}

Big negated(Big a) {
    a.negative = !a.negative;
    a.trim();
    return a;
}

Big mul(const Big& a, const Big& b) {
    Big r;
    r.mag.assign(a.mag.size() + b.mag.size() + 1, 0);
    for (std::size_t i = 0; i < a.mag.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.mag.size(); ++j) {
            const std::uint64_t t = static_cast<std::uint64_t>(a.mag[i]) * b.mag[j] + r.mag[i + j] + carry;
            r.mag[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        for (std::size_t k = i + b.mag.size(); carry != 0; ++k) {
            const std::uint64_t t = static_cast<std::uint64_t>(r.mag[k]) + carry;
            r.mag[k] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
    }
    r.negative = a.negative != b.negative;
    r.trim();
    return r;
}

// |v| * 2^shift with the given sign.
Big from_u128(unsigned __int128 v, unsigned shift, bool negative) {
    Big r;
    r.mag.assign(shift / 32, 0);
    const unsigned bit = shift % 32;
    std::vector<std::uint32_t> words;
    while (v != 0) {
        words.push_back(static_cast<std::uint32_t>(v));
        v >>= 32;
    }
    std::uint32_t spill = 0;
    for (std::uint32_t w : words) {
        r.mag.push_back(static_cast<std::uint32_t>((static_cast<std::uint64_t>(w) << bit)) | spill);
        spill = bit == 0 ? 0 : w >> (32 - bit);
    }
    r.mag.push_back(spill);
    r.negative = negative;
    r.trim();
    return r;
}

// A finite float as an integer count of 2^-298, and of 2^-149.
Big float_units(float f, int unit) {
    const auto bits = std::bit_cast<std::uint32_t>(f);
    const unsigned e = (bits >> 23) & 0xFF;
    const std::uint32_t m = e == 0 ? (bits & 0x7FFFFF) : ((bits & 0x7FFFFF) | 0x800000);
    const int k = e == 0 ? -149 : static_cast<int>(e) - 150;
    return from_u128(m, static_cast<unsigned>(k - unit), (bits >> 31) != 0);
}

// Nearest float (ties to even, IEEE overflow) to v * 2^-298, by binary search.
float reference_round(const Big& v) {
    if (v.zero()) return 0.0f;
    std::uint32_t lo = 0, hi = 0x7F7FFFFF;  // largest pattern whose value <= |v|
    Big mag = v;
    mag.negative = false;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo + 1) / 2;
        if (compare_mag(float_units(std::bit_cast<float>(mid), -298).mag, mag.mag) <= 0)
            lo = mid;
        else
            hi = mid - 1;
    }
    const Big below = float_units(std::bit_cast<float>(lo), -298);
    // The pattern after the largest float stands for 2^128.
    const Big above = lo == 0x7F7FFFFF ? from_u128(1, 128 + 298, false) : float_units(std::bit_cast<float>(lo + 1), -298);
    const int side = compare_mag(add(mag, mag).mag, add(below, above).mag);
    std::uint32_t pick = lo;
    if (side > 0 || (side == 0 && (lo & 1u) != 0)) pick = lo + 1;
    if (compare_mag(below.mag, mag.mag) == 0) pick = lo;
    return std::bit_cast<float>(pick | (v.negative ? 0x80000000u : 0u));
}

// Exact sums of many floats without per-term big-integer work: significands
// summed per exponent in 128-bit integers, combined at the end.
struct Buckets {
    std::vector<__int128> by_scale = std::vector<__int128>(600, 0);  // index: scale exponent + 300
    void put(float f, bool square) {
        const auto bits = std::bit_cast<std::uint32_t>(f);
        const unsigned e = (bits >> 23) & 0xFF;
        const std::int64_t m = e == 0 ? (bits & 0x7FFFFF) : ((bits & 0x7FFFFF) | 0x800000);
        const int k = e == 0 ? -149 : static_cast<int>(e) - 150;
        if (square)
            by_scale[static_cast<std::size_t>(2 * k + 300)] += static_cast<__int128>(m) * m;
        else
            by_scale[static_cast<std::size_t>(k + 300)] += (bits >> 31) ? -m : m;
    }
    Big total() const {
        Big r;
        for (std::size_t i = 0; i < by_scale.size(); ++i) {
            const __int128 s = by_scale[i];
            if (s == 0) continue;
            const auto u = static_cast<unsigned __int128>(s < 0 ? -s : s);
            r = add(r, from_u128(u, static_cast<unsigned>(static_cast<int>(i) - 300 + 298), s < 0));
        }
        return r;
    }
};

// The IEEE rule for the special terms, spelled out.
float special_rule(const std::vector<float>& xs, bool* any) {
    bool nan = false, pos = false, neg = false;
    for (float f : xs) {
        if (std::isnan(f)) nan = true;
        else if (std::isinf(f)) (f > 0 ? pos : neg) = true;
    }
    *any = nan || pos || neg;
    if (nan || (pos && neg)) return std::numeric_limits<float>::quiet_NaN();
    return pos ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
}

float reference_sum(const std::vector<float>& xs) {
    bool any = false;
    const float s = special_rule(xs, &any);
    if (any) return s;
    Buckets b;
    for (float f : xs) b.put(f, false);
    return reference_round(b.total());
}

float reference_squares(const std::vector<float>& ts) {
    Buckets b;
    for (float t : ts) {
        if (std::isnan(t)) return std::numeric_limits<float>::quiet_NaN();
        if (std::isinf(t)) return std::numeric_limits<float>::infinity();
        b.put(t, true);
    }
    return reference_round(b.total());
}

// Directly sum (t - mean)^2, each difference exact in units of 2^-149.
float reference_deviations(const std::vector<float>& ts, float mean) {
    const Big mu = float_units(mean, -149);
    Big total;
    for (float t : ts) {
        const Big d = add(float_units(t, -149), negated(mu));
        total = add(total, mul(d, d));
    }
    return reference_round(total);
}

// The library's exact finite state against the reference, bit for bit, so
// that a lost low bit shows even where the rounded float would hide it.
bool same_exact_value(const ExactSum& s, const Big& reference_units_298) {
    ExactSum::Fixed f = s.fixed_point();
    const bool negative = (f[ExactSum::kLimbs - 1] >> 63) != 0;
    if (negative) {  // two's complement magnitude
        std::uint64_t carry = 1;
        for (auto& limb : f) {
            limb = ~limb + carry;
            carry = carry && limb == 0;
        }
    }
    Big got;
    for (std::uint64_t limb : f) {
        got.mag.push_back(static_cast<std::uint32_t>(limb));
        got.mag.push_back(static_cast<std::uint32_t>(limb >> 32));
    }
    got.negative = negative;
    got.trim();
    static_assert(ExactSum::kUnitExponent == -320);
    const Big want = mul(reference_units_298, from_u128(1, 320 - 298, false));  // in units of 2^-320
    return add(want, negated(got)).zero();
}

Big reference_total(const std::vector<float>& xs, bool squares) {
    Buckets b;
    for (float f : xs)
        if (std::isfinite(f)) b.put(f, squares);
    return b.total();
}

// ---- data -----------------------------------------------------------------

std::mt19937_64 rng(20261208);

float random_bits_finite() {
    for (;;) {
        const auto f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        if (std::isfinite(f)) return f;
    }
}

std::vector<float> make(const char* kind, std::size_t n) {
    std::vector<float> v(n);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-149, 127);
    const std::string k = kind;
    for (auto& x : v) {
        if (k == "uniform") x = unit(rng);
        else if (k == "normal") x = normal(rng) * 1000.0f;
        else if (k == "bits") x = random_bits_finite();
        else if (k == "range") x = std::ldexp(unit(rng) + 1.0f, exponent(rng)) * (rng() & 1 ? 1.0f : -1.0f);
        else if (k == "subnormal") x = std::bit_cast<float>(static_cast<std::uint32_t>(rng() & 0x807FFFFFu));
        else if (k == "logloss") x = std::log10(std::max(unit(rng), 1e-30f)) * -1.0f;
        else x = 0.0f;
        if (!std::isfinite(x)) x = 1.0f;
    }
    return v;
}

// ---- checks ---------------------------------------------------------------

ExactSum one_by_one(const std::vector<float>& xs) {
    ExactSum s;
    for (float f : xs) s.add(f);
    return s;
}

ExactSum bulk(const std::vector<float>& xs) {
    ExactSum s;
    s.add(xs.data(), xs.size());
    return s;
}

float sum_one_by_one(const std::vector<float>& xs) { return one_by_one(xs).value(); }

// Both add paths give the reference's rounded value and, for finite sums, its exact value.
void check_sum(const char* what, const std::vector<float>& xs) {
    const float want = reference_sum(xs);
    const Big exact = reference_total(xs, false);
    const std::pair<const char*, ExactSum> paths[] = {{"single add", one_by_one(xs)}, {"bulk add", bulk(xs)}};
    for (const auto& [path, s] : paths) {
        expect(same_bits(s.value(), want), what, std::string(path) + " got " + hex(s.value()) + " want " + hex(want));
        expect(!s.finite() || same_exact_value(s, exact), what, std::string(path) + ": exact value differs");
    }
}

void check_fixed_cases() {
    const float big = 1e30f, fmax = std::numeric_limits<float>::max();
    const float half_ulp_of_max = std::ldexp(1.0f, 103), tiny = std::ldexp(1.0f, -149);
    check_sum("dynamic range", {big, 1.0f, -big});
    expect(sum_one_by_one({big, 1.0f, -big}) == 1.0f, "1e30 + 1 - 1e30 is 1");
    check_sum("tie to even down", {1.0f, std::ldexp(1.0f, -24)});
    check_sum("tie to even up", {1.0f + std::ldexp(1.0f, -23), std::ldexp(1.0f, -24)});
    check_sum("tie broken by a tiny term", {1.0f, std::ldexp(1.0f, -24), tiny});
    check_sum("below the tie by a tiny term", {1.0f, std::ldexp(1.0f, -24), -tiny});
    expect(sum_one_by_one({1.0f, std::ldexp(1.0f, -24), tiny}) == std::nextafter(1.0f, 2.0f), "tiny term breaks the tie");
    check_sum("overflow at the boundary", {fmax, half_ulp_of_max});
    expect(std::isinf(sum_one_by_one({fmax, half_ulp_of_max})), "max + half ulp is inf");
    check_sum("just below the overflow boundary", {fmax, half_ulp_of_max, -tiny});
    expect(sum_one_by_one({fmax, half_ulp_of_max, -tiny}) == fmax, "max + half ulp - tiny is max");
    check_sum("negative overflow", {-fmax, -half_ulp_of_max});
    check_sum("far beyond the range", std::vector<float>(1000, fmax));
    check_sum("beyond the range and back", {fmax, fmax, fmax, -fmax, -fmax});
    check_sum("subnormal results", {tiny, tiny, tiny});
    check_sum("subnormal to normal", {std::ldexp(1.0f, -126), -tiny, tiny, -tiny});
    check_sum("empty", {});
    const std::vector<float> cancel = {-0.0f, 3.5f, -1e-40f, -3.5f, 1e-40f, -0.0f};
    check_sum("cancellation", cancel);
    expect(std::bit_cast<std::uint32_t>(sum_one_by_one(cancel)) == 0, "exact zero is +0.0");
    expect(std::bit_cast<std::uint32_t>(sum_one_by_one({-0.0f})) == 0, "sum of -0.0 is +0.0");
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    check_sum("nan", {1.0f, nan, 2.0f});
    check_sum("+inf", {1.0f, inf, -fmax});
    check_sum("-inf", {-inf, fmax, fmax});
    check_sum("+inf and -inf", {inf, 1.0f, -inf});
    check_sum("inf and nan", {inf, nan});
    // Sums that tell sequential, pairwise and compensated float sums apart.
    std::vector<float> stall(100000, 1.0f);
    stall.insert(stall.begin(), 16777216.0f);
    check_sum("stalled sequential sum", stall);
    check_sum("pairwise failure", {1e8f, 1.0f, -1e8f, 1.0f, 1e-8f, 3e-8f, -1e-8f});
    check_sum("compensated failure", {1e38f, 1.0f, 1e-38f, -1e38f, 1e-38f, 3e-45f});
}

// Order, chunking, bulk and merge trees must not change the state.
void check_order_independence(const char* kind, std::size_t n) {
    std::vector<float> xs = make(kind, n);
    const float want = reference_sum(xs);
    ExactSum whole;
    whole.add(xs.data(), xs.size());
    expect(same_bits(whole.value(), want), kind, "bulk got " + hex(whole.value()) + " want " + hex(want));
    for (int round = 0; round < 4; ++round) {
        std::shuffle(xs.begin(), xs.end(), rng);
        std::vector<ExactSum> parts(1 + rng() % 7);
        for (std::size_t i = 0; i < xs.size();) {
            const std::size_t len = std::min<std::size_t>(xs.size() - i, 1 + rng() % 300);
            ExactSum& p = parts[rng() % parts.size()];
            if (rng() & 1)
                p.add(xs.data() + i, len);
            else
                for (std::size_t j = i; j < i + len; ++j) p.add(xs[j]);
            i += len;
        }
        while (parts.size() > 1) {
            const std::size_t a = rng() % parts.size();
            std::size_t b = rng() % (parts.size() - 1);
            if (b >= a) ++b;
            parts[a].merge(parts[b]);
            parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(b));
        }
        expect(parts[0] == whole, kind, "merge tree changed the exact state");
        expect(same_bits(parts[0].value(), want), kind, "merge tree value " + hex(parts[0].value()));
        std::string a, b;
        parts[0].serialize(a);
        whole.serialize(b);
        expect(a == b, kind, "equal sums encode differently");
    }
}

// Bulk sums longer than a chunk and than the settle limit, with long runs
// in one group (the vector path) broken by scattered terms.
void check_long_bulk() {
    const std::size_t n = (std::size_t{1} << 23) + 12345;
    std::vector<float> xs(n);
    std::uniform_real_distribution<float> unit(0.5f, 1.0f);
    for (std::size_t i = 0; i < n; ++i) xs[i] = (i % 4099 == 0) ? std::ldexp(unit(rng), -60) : unit(rng);
    const float want = reference_sum(xs);
    check_sum("long", xs);
    // Every term equal: one lane slot carries the whole sum.
    std::vector<float> same(n, 1.0f + std::ldexp(1.0f, -23));
    check_sum("long uniform", same);
    // One group's largest terms summed to 2^55 of its finest unit, then an odd
    // number of its finest terms: a group must be settled in time.
    std::vector<float> fine(std::size_t{1} << 24);
    for (std::size_t i = 0; i < fine.size(); ++i)  // 2 - 2^-22, then 2^-7 + 2^-30
        fine[i] = std::bit_cast<float>(i + 4095 < fine.size() ? 0x3FFFFFFFu : 0x3C000001u);
    check_sum("settle in time", fine);
    // Two halves summed apart, then merged past the settle limit.
    ExactSum left, right;
    for (std::size_t i = 0; i < n / 2; ++i) left.add(xs[i]);
    for (std::size_t i = n / 2; i < n; ++i) right.add(xs[i]);
    left.merge(right);
    expect(same_bits(left.value(), want) && left == bulk(xs), "long merge", hex(left.value()) + " want " + hex(want));
    // A sum merged into itself, its group at 1.5 * 2^51 units so that it settles on the way.
    const std::vector<float> near_limit((std::size_t{3} << 19), std::bit_cast<float>(0x3FFFFFFFu));
    ExactSum twice = one_by_one(near_limit);
    twice.merge(twice);
    const Big once = reference_total(near_limit, false);
    expect(same_exact_value(twice, add(once, once)), "merge into itself");
    // Squares past the settle limit.
    const std::vector<float> ts = make("range", (std::size_t{1} << 21) + 777);
    ExactSum q;
    for (float t : ts) q.add_square(t);
    expect(same_bits(q.value(), reference_squares(ts)) && same_exact_value(q, reference_total(ts, true)), "many squares",
           hex(q.value()));
    ExactSum q_bulk;
    q_bulk.add_squares(ts.data(), ts.size());
    expect(q_bulk == q, "many squares in bulk", hex(q_bulk.value()));
}

// Infinite and NaN terms inside bulk chunks, among finite terms of their group.
void check_bulk_specials() {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const float injected[][3] = {{inf, inf, 0.0f}, {-inf, 0.0f, 0.0f}, {inf, -inf, 0.0f}, {nan, 0.0f, 0.0f},
                                 {-nan, inf, 0.0f}, {0.0f, 0.0f, 0.0f}};
    for (const auto& specials : injected) {
        std::vector<float> xs = make("bits", 5000);
        for (int r = 0; r < 100; ++r) xs[rng() % xs.size()] = std::ldexp(1.5f, 122) * (rng() & 1 ? 1.0f : -1.0f);
        for (float f : specials)
            if (f != 0.0f) xs[rng() % xs.size()] = f;  // NaN compares unequal too
        check_sum("bulk with specials", xs);
        ExactSum one, bulk_squares;
        for (float t : xs) one.add_square(t);
        bulk_squares.add_squares(xs.data(), xs.size());
        expect(one == bulk_squares && same_bits(one.value(), bulk_squares.value()), "bulk squares with specials");
    }
}

void check_squares_and_multiples() {
    for (const char* kind : {"uniform", "normal", "bits", "range", "subnormal"}) {
        const std::vector<float> ts = make(kind, 3000);
        ExactSum q;
        for (float t : ts) q.add_square(t);
        ExactSum q_bulk;
        q_bulk.add_squares(ts.data(), ts.size());
        expect(q_bulk == q, kind, "squares in bulk differ from one by one");
        const float want = reference_squares(ts);
        expect(same_bits(q.value(), want), kind, "squares got " + hex(q.value()) + " want " + hex(want));
        expect(same_exact_value(q, reference_total(ts, true)), kind, "exact value of the squares differs");
    }
    const float inf = std::numeric_limits<float>::infinity();
    ExactSum q;
    q.add_square(-inf);
    expect(q.value() == inf, "square of -inf is +inf");
    q.add_square(std::numeric_limits<float>::quiet_NaN());
    expect(std::isnan(q.value()), "square of nan is nan");
    // A square far beyond the float range cancelled by many copies of -max.
    ExactSum mixed;
    mixed.add_square(1.5e20f);
    const float fmax = std::numeric_limits<float>::max();
    const auto copies = static_cast<std::uint64_t>(std::ldexp(1.5e20, 1) * 1.5e20 / fmax / 2);
    mixed.add_multiple(-fmax, copies);
    {
        Buckets b;
        b.put(1.5e20f, true);
        const Big want = add(b.total(), mul(from_u128(copies, 0, false), negated(float_units(fmax, -298))));
        expect(same_bits(mixed.value(), reference_round(want)), "square cancelled by a multiple",
               hex(mixed.value()) + " want " + hex(reference_round(want)));
    }
    for (int i = 0; i < 2000; ++i) {
        const float x = (i % 3 == 0) ? random_bits_finite() : make("range", 1)[0];
        const std::uint64_t count = rng() >> (rng() % 64);
        ExactSum s;
        s.add_multiple(x, count);
        const Big want = mul(from_u128(count, 0, false), float_units(x, -298));
        expect(same_bits(s.value(), reference_round(want)), "multiple", hex(x) + " x " + std::to_string(count));
        if (count < 5000 && i % 50 == 0) {
            ExactSum t;
            for (std::uint64_t j = 0; j < count; ++j) t.add(x);
            expect(t == s, "multiple equals repeated adds");
        }
    }
    ExactSum none;
    none.add_multiple(inf, 0);
    expect(none.value() == 0.0f && none.finite(), "zero copies of inf add nothing");
}

void check_squared_deviations() {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const char* kind : {"uniform", "normal", "range", "subnormal", "bits"}) {
        for (int round = 0; round < 6; ++round) {
            const std::vector<float> ts = make(kind, 1 + rng() % 500);
            ExactSum s, q;
            s.add(ts.data(), ts.size());
            for (float t : ts) q.add_square(t);
            const float mean_of_sum = s.value() * (1.0f / static_cast<float>(ts.size()));
            const float means[] = {mean_of_sum, 0.0f, -mean_of_sum, ts[0], random_bits_finite(), std::ldexp(1.0f, -149)};
            for (float mean : means) {
                if (!std::isfinite(mean)) continue;
                const float got = zentrova::numeric::squared_deviations(s, q, ts.size(), mean);
                const float want = reference_deviations(ts, mean);
                expect(same_bits(got, want), kind, "squared deviations got " + hex(got) + " want " + hex(want));
            }
        }
    }
    // Cancellation that float64 would lose: two huge equal values and a small one.
    {
        const std::vector<float> ts = {1e19f, 1e19f, 1.0f};
        ExactSum s, q;
        for (float t : ts) s.add(t), q.add_square(t);
        const float mean = 1e19f;
        expect(same_bits(zentrova::numeric::squared_deviations(s, q, 3, mean), reference_deviations(ts, mean)),
               "deviation cancellation");
    }
    ExactSum s, q;
    s.add(2.0f);
    q.add_square(2.0f);
    expect(std::isnan(zentrova::numeric::squared_deviations(s, q, 1, nan)), "nan mean");
    expect(zentrova::numeric::squared_deviations(s, q, 1, inf) == inf, "infinite mean");
    expect(zentrova::numeric::squared_deviations(s, q, 1, 2.0f) == 0.0f, "no deviation");
    expect(std::bit_cast<std::uint32_t>(zentrova::numeric::squared_deviations(ExactSum{}, ExactSum{}, 0, 1.0f)) == 0,
           "no terms");
    ExactSum bad = s;
    bad.add(inf);
    expect(std::isnan(zentrova::numeric::squared_deviations(bad, q, 2, 2.0f)), "infinite term in the sum");
    ExactSum bad_q = q;
    bad_q.add_square(nan);
    expect(std::isnan(zentrova::numeric::squared_deviations(s, bad_q, 2, 2.0f)), "nan term in the squares");
}

void check_encoding() {
    std::vector<ExactSum> samples(1);
    for (const char* kind : {"uniform", "bits", "range", "subnormal"}) {
        ExactSum s;
        const auto xs = make(kind, 200);
        s.add(xs.data(), xs.size());
        samples.push_back(s);
        ExactSum negative;
        for (float f : xs) negative.add(-std::fabs(f));
        samples.push_back(negative);
        ExactSum squares;
        for (float f : xs) squares.add_square(f);
        samples.push_back(squares);
    }
    ExactSum special;
    special.add(1.0f);
    special.add(-std::numeric_limits<float>::infinity());
    samples.push_back(special);
    ExactSum huge;
    huge.add_multiple(std::numeric_limits<float>::max(), ~std::uint64_t{0});
    huge.add_square(std::numeric_limits<float>::max());
    samples.push_back(huge);

    std::size_t largest = 0;
    for (const ExactSum& s : samples) {
        std::string bytes;
        s.serialize(bytes);
        largest = std::max(largest, bytes.size());
        expect(bytes.size() <= ExactSum::kMaxEncodedSize, "encoding size");
        std::string stream = bytes + "tail";
        std::string_view in = stream;
        ExactSum back;
        expect(ExactSum::deserialize(in, back) && back == s && in == "tail", "round trip");
        expect(same_bits(back.value(), s.value()), "round trip value");
        // Every truncation is rejected and leaves the input alone.
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            std::string_view part(bytes.data(), cut);
            ExactSum untouched = s;
            expect(!ExactSum::deserialize(part, untouched) && part.size() == cut && untouched == s, "truncated");
        }
        // A flipped bit is rejected, or decodes to a sum whose encoding is exactly the flipped bytes.
        for (std::size_t bit = 0; bit < bytes.size() * 8; ++bit) {
            std::string flipped = bytes;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
            std::string_view fin = flipped;
            ExactSum decoded;
            if (ExactSum::deserialize(fin, decoded)) {
                std::string again;
                decoded.serialize(again);
                const std::size_t used = flipped.size() - fin.size();
                expect(again == flipped.substr(0, used) && !(decoded == s), "bit flip decoded non-canonically",
                       "bit " + std::to_string(bit) + " of " + hex(s.value()));
            }
        }
    }
    std::printf("largest encoding: %zu bytes\n", largest);
    std::size_t accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string junk(rng() % 40, '\0');
        for (char& c : junk) c = static_cast<char>(rng());
        if (i % 2) junk[0] = 1;
        if (i % 4 == 1) junk[1] = static_cast<char>(junk[1] & 7);
        std::string_view in = junk;
        ExactSum decoded;
        if (ExactSum::deserialize(in, decoded)) {
            ++accepted;
            std::string again;
            decoded.serialize(again);
            expect(junk.size() - in.size() == again.size() && junk.compare(0, again.size(), again) == 0,
                   "random bytes decoded non-canonically");
        }
    }
    std::printf("random byte strings accepted as valid: %zu of 200000\n", accepted);
}

// ---- speed ----------------------------------------------------------------

// Thread CPU time, so that other processes on a shared machine inflate the
// figures less than wall time would.
double thread_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <class F>
double best_ns_per_term(std::size_t n, F&& run) {
    double best = 1e30;
    for (int rep = 0; rep < 7; ++rep) {
        const double start = thread_ns();
        run();
        best = std::min(best, (thread_ns() - start) / static_cast<double>(n));
    }
    return best;
}

volatile float sink;

void report_speed() {
    const std::size_t n = std::size_t{1} << 24;
    for (const char* kind : {"uniform", "normal", "logloss", "range", "bits"}) {
        const std::vector<float> xs = make(kind, n);
        const double bulk = best_ns_per_term(n, [&] {
            ExactSum s;
            s.add(xs.data(), n);
            sink = s.value();
        });
        const double single = best_ns_per_term(n, [&] {
            ExactSum s;
            for (float f : xs) s.add(f);
            sink = s.value();
        });
        const double plain = best_ns_per_term(n, [&] {
            float s = 0.0f;
            for (float f : xs) s += f;
            sink = s;
        });
        std::printf("speed %-8s bulk %.3f ns/term, single add %.3f ns/term (plain float loop %.3f)\n", kind, bulk,
                    single, plain);
    }
}

}  // namespace

// Blocks summed in double windows: terms at the largest field and at every
// field of both windows (and just below them), mostly positive, and
// a number of terms below both windows around the point where the block goes
// to the slots instead.
void check_window_edges() {
    for (int top : {1, 20, 40, 127, 200, 254}) {
        for (std::size_t small : {0u, 1u, 63u, 64u, 65u, 300u}) {
            std::vector<float> xs(2048 + 77);
            for (std::size_t i = 0; i < xs.size(); ++i) {
                // Half at the largest field, the rest spread over both windows and just below.
                const int below = rng() % 2 ? 0 : static_cast<int>(rng() % 40);
                const int field = std::max(0, top - below);
                const auto mantissa = static_cast<std::uint32_t>(rng() & 0x7FFFFFu);
                // Mostly one sign, so that sums grow as far as they can.
                const std::uint32_t sign = rng() % 16 == 0 ? 0x80000000u : 0u;
                xs[i] = std::bit_cast<float>(sign | static_cast<std::uint32_t>(field) << 23 | mantissa);
            }
            for (std::size_t i = 0; i < small; ++i)
                xs[rng() % 2048] = std::bit_cast<float>(static_cast<std::uint32_t>(std::max(0, top - 39 - static_cast<int>(rng() % 60))) << 23 |
                                                        static_cast<std::uint32_t>(rng() & 0x807FFFFFu));
            xs[rng() % xs.size()] = 0.0f;
            xs[rng() % xs.size()] = -0.0f;
            check_sum("window edges", xs);
        }
    }
}

int main(int argc, char** argv) {
    const bool speed = !(argc > 1 && std::strcmp(argv[1], "--no-speed") == 0);
    check_fixed_cases();
    // Bulk sums take another kernel on each vector path; every one must be exact.
    for (zentrova::numeric::KernelPath path : zentrova::numeric::supported_paths()) {
        zentrova::numeric::set_path_override(path);
        for (const char* kind : {"uniform", "normal", "bits", "range", "subnormal", "logloss"})
            for (std::size_t n : {1u, 7u, 8u, 63u, 64u, 65u, 1000u, 20000u}) check_order_independence(kind, n);
        check_window_edges();
        check_bulk_specials();
    }
    zentrova::numeric::clear_path_override();
    check_long_bulk();
    check_squares_and_multiples();
    check_squared_deviations();
    check_encoding();
    std::printf("%d checks, %d failures\n", checks, failures);
    if (speed) report_speed();
    return failures == 0 ? 0 : 1;
}
