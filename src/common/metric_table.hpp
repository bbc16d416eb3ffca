// The shape of a metric family's table: one entry per metric, in the order the
// family computes them. Everything the analyzers and drift checks say about a
// metric by name comes from its entry.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "common/metric_map.hpp"

namespace zentrova {

// How a drift check compares a latest value l with its baseline b, for
// k = 1 + threshold, and what amount it reports.
enum class Comparison {
    MagnitudeAbove,       // |l| > k * |b|, amount ||l| - |b||
    Above,                // l > k * b, amount l - b
    AboveByDistance,      // l > k * b, amount |l - b|
    Below,                // l < (1 - threshold) * b, amount b - l
};

struct MetricEntry {
    std::string_view key;           // in an analyzer's result and a check's records
    std::string_view partial_name;  // as a partial check accepts it
    std::string_view report_key;    // of a failure in the check report
    std::string_view prefix;        // of the failure message, before the amount
    Comparison comparison;
};

using MetricTable = std::span<const MetricEntry>;

// An entry whose metric goes by its key everywhere: results, partial checks, reports.
constexpr MetricEntry keyed(std::string_view key, std::string_view prefix, Comparison comparison) {
    return {key, key, key, prefix, comparison};
}

// The values of the first values.size() entries as a metric map; room is made
// for the whole table, so every map of a family has the same layout.
template <std::size_t N>
MetricMap metric_map(MetricTable table, const std::array<float, N>& values) {
    MetricMap metrics;
    metrics.reserve(table.size());
    for (std::size_t i = 0; i < N; ++i) metrics.emplace(std::string(table[i].key), values[i]);
    return metrics;
}

}  // namespace zentrova
