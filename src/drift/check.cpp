#include "drift/check.hpp"

#include <cmath>

#include "drift/number_format.hpp"
#include "drift/report.hpp"
#include "metrics/data_bias/table.hpp"
#include "metrics/model_bias/table.hpp"
#include "metrics/performance/table.hpp"

namespace zentrova::drift {
namespace {

using enum ErrorCode;

// A bias record is read latest first; a performance record baseline first.
constexpr CheckFamily data_bias{data_bias::table, data_bias::table.size(), true, UnknownDataBiasName,
                                BiasLatestIncomplete, BiasBaselineIncomplete, Internal};
constexpr CheckFamily model_bias{model_bias::table, model_bias::table.size(), true, UnknownModelBiasName,
                                 BiasLatestIncomplete, BiasBaselineIncomplete, Internal};

constexpr CheckFamily performance(MetricTable table, std::size_t checked, ErrorCode not_checked) {
    return {table, checked, false, UnknownPerformanceName, PerformanceLatestIncomplete,
            PerformanceBaselineIncomplete, not_checked};
}
constexpr CheckFamily binary_classification = performance(
    performance::classification_table, performance::classification_count, LogLossNotForClassification);
constexpr CheckFamily logistic_regression =
    performance(performance::classification_table, performance::classification_table.size(), Internal);
constexpr CheckFamily linear_regression =
    performance(performance::regression_table, performance::regression_table.size(), Internal);

// The positions of the named entries, or of every checked entry.
Result<std::vector<std::size_t>> selected(const CheckFamily& family,
                                          const std::optional<std::vector<std::string>>& names) {
    std::vector<std::size_t> positions;
    if (!names) {
        for (std::size_t i = 0; i < family.checked; ++i) positions.push_back(i);
        return positions;
    }
    positions.reserve(names->size());
    for (const std::string& name : *names) {
        std::size_t i = 0;
        while (i < family.table.size() && family.table[i].partial_name != name) ++i;
        if (i == family.table.size()) return family.unknown_name;
        positions.push_back(i);
    }
    return positions;
}

// The values of the checked entries, looked up in table order.
Result<std::vector<float>> record(const CheckFamily& family, const MetricMap& metrics, ErrorCode incomplete) {
    std::vector<float> values(family.checked);
    for (std::size_t i = 0; i < family.checked; ++i) {
        const auto found = metrics.find(std::string(family.table[i].key));
        if (found == metrics.end()) return incomplete;
        values[i] = found->second;
    }
    return values;
}

// The amount by which l fails against b, or nothing when it passes.
std::optional<float> failure(Comparison comparison, float l, float b, float threshold) {
    switch (comparison) {
        case Comparison::MagnitudeAbove:
            if (std::fabs(l) > (1.0f + threshold) * std::fabs(b)) return std::fabs(std::fabs(l) - std::fabs(b));
            return std::nullopt;
        case Comparison::Above:
            if (l > (1.0f + threshold) * b) return l - b;
            return std::nullopt;
        case Comparison::AboveByDistance:
            if (l > (1.0f + threshold) * b) return std::fabs(l - b);
            return std::nullopt;
        case Comparison::Below:
            if (l < (1.0f - threshold) * b) return b - l;
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

const CheckFamily& data_bias_family() noexcept { return data_bias; }
const CheckFamily& model_bias_family() noexcept { return model_bias; }

const CheckFamily& performance_family(ModelType type) noexcept {
    switch (type) {
        case ModelType::BinaryClassification: return binary_classification;
        case ModelType::LogisticRegression: return logistic_regression;
        case ModelType::LinearRegression: break;
    }
    return linear_regression;
}

Result<std::string> check(const CheckFamily& family, const MetricMap& baseline, const MetricMap& latest,
                          const std::optional<std::vector<std::string>>& names, float threshold) {
    auto positions = selected(family, names);
    if (!positions) return std::move(positions).error();
    Result<std::vector<float>> first = family.latest_first ? record(family, latest, family.latest_incomplete)
                                                           : record(family, baseline, family.baseline_incomplete);
    if (!first) return std::move(first).error();
    Result<std::vector<float>> second = family.latest_first ? record(family, baseline, family.baseline_incomplete)
                                                            : record(family, latest, family.latest_incomplete);
    if (!second) return std::move(second).error();
    const std::vector<float>& latest_values = family.latest_first ? *first : *second;
    const std::vector<float>& baseline_values = family.latest_first ? *second : *first;

    FailureReport report;
    report.reserve(positions->size());
    for (const std::size_t i : *positions) {
        if (i >= family.checked) return family.not_checked;
        const MetricEntry& entry = family.table[i];
        if (const auto amount = failure(entry.comparison, latest_values[i], baseline_values[i], threshold))
            report[std::string(entry.report_key)] = std::string(entry.prefix) + format_f32(*amount);
    }
    return encode_report(report);
}

}  // namespace zentrova::drift
