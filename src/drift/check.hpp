// The one drift-check engine: a latest record of a metric family against its
// baseline record, driven by the family's metric table.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/metric_map.hpp"
#include "common/metric_table.hpp"
#include "drift/model_type.hpp"

namespace zentrova::drift {

// What a check needs to know of a family besides its table.
struct CheckFamily {
    MetricTable table;
    std::size_t checked;  // the leading entries a record holds and a full check compares
    bool latest_first;    // which record is read first, so which error wins
    ErrorCode unknown_name, latest_incomplete, baseline_incomplete;
    ErrorCode not_checked;  // a partial check named an entry beyond `checked`
};

const CheckFamily& data_bias_family() noexcept;
const CheckFamily& model_bias_family() noexcept;
const CheckFamily& performance_family(ModelType type) noexcept;

// Compares every checked metric, or only the named ones in the given order
// (duplicates kept), and returns the failure report as JSON.
Result<std::string> check(const CheckFamily& family, const MetricMap& baseline, const MetricMap& latest,
                          const std::optional<std::vector<std::string>>& names, float threshold);

}  // namespace zentrova::drift
