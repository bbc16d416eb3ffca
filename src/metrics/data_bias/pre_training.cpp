#include "metrics/data_bias/pre_training.hpp"

#include <cmath>
#include <cstdint>

#include "numeric/float32.hpp"

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

std::array<float, metric_count> pre_training_values(const PreTraining& counts) {
    const GroupCounts f = group_counts(counts.facet_ground_truth.rows, counts.facet_ground_truth.positives);
    const GroupCounts r = group_counts(counts.rest_ground_truth.rows, counts.rest_ground_truth.positives);
    const float total = to_f32(counts.facet_ground_truth.rows + counts.rest_ground_truth.rows);
    const float qf = f.label_pos / f.n;
    const float qr = r.label_pos / r.n;

    std::array<float, metric_count> values{};
    values[0] = std::fabs(f.n - r.n) / total;  // class imbalance
    values[1] = qf - qr;                       // difference in proportions of labels
    {
        const float a = qf * std::log(qf / qr);
        const float b = 1.0f - qf;
        const float c = 1.0f - qr;
        values[2] = a + b * std::log(b / c);  // KL divergence
    }
    {
        const float m = (qf + qr) * 0.5f;
        const float u = 1.0f - m;
        const float a = qf * std::log(qf / m) + (1.0f - qf) * std::log((1.0f - qf) / u);
        const float b = qr * std::log(qr / m) + (1.0f - qr) * std::log((1.0f - qr) / u);
        values[3] = (a + b) * 0.5f;  // JS divergence
    }
    {
        const float d1 = qf - qr;
        const float d0 = (1.0f - qf) - (1.0f - qr);
        values[4] = std::sqrt(d1 * d1 + d0 * d0);  // Lp norm
    }
    values[5] = std::fabs(qf - qr);  // total variation distance
    {
        const float d0 = std::fabs(f.zeros / f.n - r.zeros / r.n);
        const float d1 = std::fabs(f.ones / f.n - r.ones / r.n);
        // Kolmogorov-Smirnov: the smaller of the two differences; d0 on a tie or a NaN.
        values[6] = d0 > d1 ? d1 : d0;
    }
    return values;
}

}  // namespace zentrova::data_bias
