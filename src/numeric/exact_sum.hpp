// Exact sums of float32 terms, rounded once to float32 at the end.
//
// Every finite term is split into parts of at most 24 significant bits. Parts
// whose leading bit lies in the same group of eight binades are added in one
// double: such a part is a multiple of 2^(g-23) below 2^(g+8) (g the group's
// lowest exponent), so 2^22 of them sum to below 2^53 units and every double
// addition is exact. Before any group could take more, the groups are settled
// into a two's complement fixed-point integer with 2^-320 as its unit. Infinite
// and NaN terms go to one extra double whose IEEE addition already gives the
// wanted rule (NaN sticks, +inf with -inf is NaN).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
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
}  // namespace detail

class ExactSum {
public:
    // What the infinite and NaN terms amount to; any of them decides value().
    enum class Special : std::uint8_t { none = 0, plus_infinity = 1, minus_infinity = 2, nan = 3 };

    ExactSum() noexcept = default;

    // Adds x exactly.
    void add(float x) noexcept {
        const unsigned exponent = (std::bit_cast<std::uint32_t>(x) >> 23) & 0xFFu;
        bank_[kFloatGroup[exponent]] += static_cast<double>(x);
        if (++pending_ >= kSettleAt) [[unlikely]]
            settle();
    }
    // Adds n terms exactly; the result equals n single adds.
    void add(const float* x, std::size_t n) noexcept;
    // Adds t*t exactly (it may exceed the float range); infinite t adds +inf.
    void add_square(float t) noexcept;
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
    static constexpr std::uint32_t kMaxPending = std::uint32_t{1} << 22;
    // Every method adds at most 6 parts before checking.
    static constexpr std::uint32_t kSettleAt = kMaxPending - 8;
    static constexpr auto& kFloatGroup = detail::kFloatGroup;
    // Floats whose exponent fields share their top five bits j form group j + kFirstFloatGroup.
    static constexpr std::size_t kFirstFloatGroup = detail::group_of(-126);
    static_assert(detail::group_of(-127) == kFirstFloatGroup && detail::group_of(-119) == kFirstFloatGroup + 1);
    static_assert(detail::group_of(127) == kFirstFloatGroup + 31 && detail::group_of(255) < kGroups);

    // Adds a double that is exactly an integer below 2^48 times a power of two.
    void add_wide_part(double d) noexcept;
    void settle() noexcept;

    std::array<double, kGroups + 1> bank_{};
    Fixed fixed_{};
    std::uint32_t pending_ = 0;
};

// The exact real value of sum_i (t_i - mean)^2 rounded once to float32, from the
// exact sum of t, the exact sum of t*t and the count n. NaN when either sum saw
// an infinite or NaN term or mean is NaN; +inf for an infinite mean when n > 0.
float squared_deviations(const ExactSum& sum, const ExactSum& sum_of_squares, std::uint64_t n, float mean) noexcept;

}  // namespace zentrova::numeric
