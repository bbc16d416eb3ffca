#include "data_bias/pre_training.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "float32.hpp"

namespace zentrova::data_bias {
namespace {

struct GroupCounts {
    float n;          // number of labels
    float label_pos;  // exact count of ones, converted once
    float zeros;      // exact count of zeros, converted once
    float ones;       // exact count of ones, converted once
};

GroupCounts group_counts(std::uint64_t size, std::uint64_t ones) {
    return {to_f32(size), to_f32(ones), to_f32(size - ones), to_f32(ones)};
}

}  // namespace

MetricMap pre_training_bias(PreTraining data) {
    const GroupCounts f = group_counts(data.facet_ground_truth.rows, data.facet_ground_truth.positives);
    const GroupCounts r = group_counts(data.rest_ground_truth.rows, data.rest_ground_truth.positives);
    const float total = to_f32(data.facet_ground_truth.rows + data.rest_ground_truth.rows);
    const float qf = f.label_pos / f.n;
    const float qr = r.label_pos / r.n;

    MetricMap metrics;
    metrics.reserve(7);
    metrics.emplace("ClassImbalance", std::fabs(f.n - r.n) / total);
    metrics.emplace("DifferenceInProportionOfLabels", qf - qr);
    {
        const float a = qf * std::log(qf / qr);
        const float b = 1.0f - qf;
        const float c = 1.0f - qr;
        metrics.emplace("KlDivergence", a + b * std::log(b / c));
    }
    {
        const float m = (qf + qr) * 0.5f;
        const float u = 1.0f - m;
        const float a = qf * std::log(qf / m) + (1.0f - qf) * std::log((1.0f - qf) / u);
        const float b = qr * std::log(qr / m) + (1.0f - qr) * std::log((1.0f - qr) / u);
        metrics.emplace("JsDivergence", (a + b) * 0.5f);
    }
    {
        const float d1 = qf - qr;
        const float d0 = (1.0f - qf) - (1.0f - qr);
        metrics.emplace("LpNorm", std::sqrt(d1 * d1 + d0 * d0));
    }
    metrics.emplace("TotalVarationDistance", std::fabs(qf - qr));
    {
        const float d0 = std::fabs(f.zeros / f.n - r.zeros / r.n);
        const float d1 = std::fabs(f.ones / f.n - r.ones / r.n);
        // The smaller of the two differences; d0 on a tie or a NaN.
        metrics.emplace("KolmorogvSmirnov", d0 > d1 ? d1 : d0);
    }
    return metrics;
}

Result<std::vector<DataBiasMetrics>> map_string_to_metric(std::vector<std::string> names) {
    static constexpr std::array<std::string_view, data_bias_metric_count> accepted = {
        "ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence",
        "LpNorm",         "TotalVariationDistance",         "KolmorogvSmirnov",
    };
    std::vector<DataBiasMetrics> metrics;
    metrics.reserve(names.size());
    for (const std::string& name : names) {
        std::size_t code = 0;
        while (code < accepted.size() && accepted[code] != name) ++code;
        if (code == accepted.size()) return Error{"Invalid metric name"};
        metrics.push_back(static_cast<DataBiasMetrics>(code));
    }
    return metrics;
}

}  // namespace zentrova::data_bias
