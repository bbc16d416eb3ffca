// Counting over labelled columns in blocks small enough for 32-bit counters,
// which keeps the counting loops vectorisable.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace zentrova::data_handler {

// Adds up K small non-negative terms per row over rows [0, rows): add(i, sums)
// adds row i's terms to the 32-bit sums of the current block.
template <std::size_t K, class Add>
std::array<std::uint64_t, K> sum_rows(std::size_t rows, Add add) {
    constexpr std::size_t block = 1 << 14;
    std::array<std::uint64_t, K> totals{};
    for (std::size_t start = 0; start < rows; start += block) {
        const std::size_t end = std::min(rows, start + block);
        std::array<std::uint32_t, K> partial{};
        for (std::size_t i = start; i < end; ++i) add(i, partial);
        for (std::size_t k = 0; k < K; ++k) totals[k] += partial[k];
    }
    return totals;
}

}  // namespace zentrova::data_handler
