// Mergeable statistics of the two bias families. A batch adds exact integer
// counts of its rows, binned by the rule bits of every labelled column (both
// candidate rules of a numeric column at once), and the distinct keys that
// decide each column's rule over all rows. The rule is chosen and the metrics
// computed only at the end, so any split of the rows into batches, merged in
// any order, gives the metrics of one batch of all rows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/census.hpp"
#include "engine/columns.hpp"
#include "engine/labelling.hpp"
#include "common/errors.hpp"
#include "common/metric_map.hpp"

namespace zentrova::engine {

// One labelled column across batches.
struct LabelledColumnState {
    LabelValue label;
    ColumnKind kind = ColumnKind::Unset;
    DistinctKeys keys;

    // The bit of the rule that counts: equality for text and for exactly two
    // distinct keys, greater-or-equal otherwise.
    std::uint8_t rule_bit() const noexcept {
        return kind == ColumnKind::Text || keys.exactly_two() ? equal_bit : at_least_bit;
    }
};

template <std::size_t Columns>
class BiasStats {
public:
    static constexpr std::size_t bins = std::size_t{1} << (2 * Columns);

    BiasStats() = default;
    explicit BiasStats(std::array<LabelValue, Columns> labels) {
        for (std::size_t c = 0; c < Columns; ++c) columns_[c].label = std::move(labels[c]);
    }

    // Why `other` cannot be merged into this, naming the first difference, or
    // nothing. `names` names the columns.
    std::optional<std::string> difference(const BiasStats& other,
                                          const std::array<std::string_view, Columns>& names) const;
    // Why a batch of these column kinds cannot be added, or nothing.
    std::optional<std::string> batch_difference(const std::array<ColumnKind, Columns>& kinds,
                                                const std::array<std::string_view, Columns>& names) const;

    // Adds a batch: rows up to the shortest column are counted; every row of a
    // column counts for its distinct keys. The caller checked the kinds. With
    // `census`, every row of each column is counted in the same pass.
    void update(const std::array<const labelling::LabelInput*, Columns>& batch,
                std::array<ColumnCensus, Columns>* census = nullptr);
    void merge(const BiasStats& other);
    // A core of the same labels that holds no rows.
    BiasStats fresh() const {
        std::array<LabelValue, Columns> labels;
        for (std::size_t c = 0; c < Columns; ++c) labels[c] = columns_[c].label;
        return BiasStats(std::move(labels));
    }

    const LabelledColumnState& column(std::size_t c) const noexcept { return columns_[c]; }
    const std::array<std::uint64_t, bins>& counts() const noexcept { return counts_; }

    void write(std::string& out) const;
    static bool read(std::string_view& in, BiasStats& out);

private:
    std::array<LabelledColumnState, Columns> columns_{};
    std::array<std::uint64_t, bins> counts_{};
};

// feature, ground truth; a row's code is facet bits | truth bits << 2.
using DataBiasCore = BiasStats<2>;
// feature, prediction, ground truth; code is facet | prediction << 2 | truth << 4.
using ModelBiasCore = BiasStats<3>;

// The metrics of all rows, or the "no deviation" error of the family when a
// group is empty.
Result<MetricMap> data_bias_metrics(const DataBiasCore& stats);
Result<MetricMap> model_bias_metrics(const ModelBiasCore& stats);

std::string encode(const DataBiasCore& stats);
std::string encode(const ModelBiasCore& stats);
// False for bytes that are not a whole, intact encoding of the same family.
bool decode(std::string_view bytes, DataBiasCore& out);
bool decode(std::string_view bytes, ModelBiasCore& out);

}  // namespace zentrova::engine
