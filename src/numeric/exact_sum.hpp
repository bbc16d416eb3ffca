// Exact sums of float32 terms, rounded once to float32 at the end.
//
// Every finite term is split into parts of at most 24 significant bits. Parts
// whose leading bit lies in the same group of eight binades are added in one
// double: each is a multiple of the group's unit u = 2^(g-23) (g the group's
// lowest exponent) and below 2^31 u. A group's double is kept below 2^52 u and
// only such values are added to it, so every sum stays below 2^53 u and is
// exact; a group that reaches 2^52 u is moved into a two's complement
// fixed-point integer with 2^-320 as its unit. Infinite and NaN terms go to one
// extra double whose IEEE addition already gives the wanted rule (NaN sticks,
// +inf with -inf is NaN).
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace zentrova::numeric {

namespace detail {
// Group 0 starts at 2^-287 so that each group is the eight float exponent
// fields sharing their top five bits; leading exponents go up to 255.
inline constexpr int kLowestExponent = -287;
inline constexpr std::size_t kGroups = 68;

// The group of a part whose leading bit is 2^exponent; tinier parts join group 0.
constexpr std::size_t group_of(int exponent) noexcept {
    return static_cast<std::size_t>((exponent < kLowestExponent ? 0 : exponent - kLowestExponent) >> 3);
}

constexpr std::array<std::uint8_t, 256> make_float_groups() noexcept {
    std::array<std::uint8_t, 256> groups{};
    // Subnormals are multiples of 2^-149, like the binade of 2^-126.
    groups[0] = static_cast<std::uint8_t>(group_of(-126));
    for (int e = 1; e < 255; ++e) groups[static_cast<std::size_t>(e)] = static_cast<std::uint8_t>(group_of(e - 127));
    groups[255] = static_cast<std::uint8_t>(kGroups);  // infinities and NaN
    return groups;
}

// Group of a float by its biased exponent field.
inline constexpr std::array<std::uint8_t, 256> kFloatGroup = make_float_groups();

// 2^52 units of each group, where it is settled; NaN for the special slot,
// which is never settled (no comparison with NaN holds).
constexpr std::array<double, kGroups + 1> make_group_limits() noexcept {
    std::array<double, kGroups + 1> limits{};
    for (std::size_t g = 0; g < kGroups; ++g) {
        const int exponent = kLowestExponent + 8 * static_cast<int>(g) - 23 + 52;
        limits[g] = std::bit_cast<double>(static_cast<std::uint64_t>(exponent + 1023) << 52);
    }
    limits[kGroups] = std::numeric_limits<double>::quiet_NaN();
    return limits;
}
inline constexpr std::array<double, kGroups + 1> kGroupLimit = make_group_limits();
}  // namespace detail

class ExactSum {
public:
    // What the infinite and NaN terms amount to; any of them decides value().
    enum class Special : std::uint8_t { none = 0, plus_infinity = 1, minus_infinity = 2, nan = 3 };

    ExactSum() noexcept = default;

    // Adds x exactly.
    void add(float x) noexcept {
        const std::size_t g = detail::kFloatGroup[(std::bit_cast<std::uint32_t>(x) >> 23) & 0xFFu];
        add_to_group(g, static_cast<double>(x));
    }
    // Adds n terms exactly; the result equals n single adds.
    void add(const float* x, std::size_t n) noexcept;
    // Adds t*t exactly (it may exceed the float range); infinite t adds +inf.
    void add_square(float t) noexcept;
    // Adds the squares of n terms; the result equals n calls of add_square.
    void add_squares(const float* t, std::size_t n) noexcept;
    // Adds count copies of x exactly; nothing when count is 0.
    void add_multiple(float x, std::uint64_t count) noexcept;
    // Adds everything other holds.
    void merge(const ExactSum& other) noexcept;

    // The exact sum rounded once to float32, nearest with ties to even.
    float value() const noexcept;
    Special special() const noexcept;
    // True when no term was infinite or NaN.
    bool finite() const noexcept { return special() == Special::none; }

    // Appends at most kMaxEncodedSize bytes; equal sums give equal bytes.
    void serialize(std::string& out) const;
    // Reads one encoding from the front of in and removes it. On malformed or
    // non-canonical bytes returns false and leaves in and out unchanged.
    static bool deserialize(std::string_view& in, ExactSum& out) noexcept;

    // Same special state, and for finite sums the same exact value.
    friend bool operator==(const ExactSum& a, const ExactSum& b) noexcept;

    static constexpr std::size_t kLimbs = 12;          // fixed point, 768 bits
    static constexpr int kUnitExponent = -320;         // value of the lowest bit
    static constexpr std::size_t kMaxEncodedSize = 4 + kLimbs * 8;
    using Fixed = std::array<std::uint64_t, kLimbs>;

    // The finite part as a fixed-point integer in units of 2^kUnitExponent.
    Fixed fixed_point() const noexcept;

private:
    static constexpr std::size_t kGroups = detail::kGroups;
    static constexpr std::size_t kSpecialSlot = kGroups;
    // Floats whose exponent fields share their top five bits j form group j + kFirstFloatGroup.
    static constexpr std::size_t kFirstFloatGroup = detail::group_of(-126);
    static_assert(detail::group_of(-127) == kFirstFloatGroup && detail::group_of(-119) == kFirstFloatGroup + 1);
    static_assert(detail::group_of(127) == kFirstFloatGroup + 31 && detail::group_of(255) < kGroups);

    // Bulk adds of a block: summed in doubles within a window of binades where
    // that is exact (false, nothing added, where it is not), or filed in slots.
    template <class Isa>  // a vector-path tag
    bool add_block_in_window(const float* x, std::size_t n) noexcept;
    void add_in_slots(const float* x, std::size_t n) noexcept;
    bool add_square_block_in_window(const float* t, std::size_t n) noexcept;
    void add_squares_in_slots(const float* t, std::size_t n) noexcept;
    // Adds a double that is exactly an integer below 2^48 times a power of two.
    void add_wide_part(double d) noexcept;
    // Adds a part (or a sum of parts) below 2^52 units of group g.
    void add_to_group(std::size_t g, double v) noexcept {
        const double s = bank_[g] + v;
        bank_[g] = s;
        if (std::fabs(s) >= detail::kGroupLimit[g]) [[unlikely]]
            settle(g);
    }
    void settle(std::size_t g) noexcept;

    std::array<double, kGroups + 1> bank_{};
    Fixed fixed_{};
};

// The exact real value of sum_i (t_i - mean)^2 rounded once to float32, from the
// exact sum of t, the exact sum of t*t and the count n. NaN when either sum saw
// an infinite or NaN term or mean is NaN; +inf for an infinite mean when n > 0.
float squared_deviations(const ExactSum& sum, const ExactSum& sum_of_squares, std::uint64_t n, float mean) noexcept;

}  // namespace zentrova::numeric
