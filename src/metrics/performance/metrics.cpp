#include "metrics/performance/metrics.hpp"

#include <array>
#include <cmath>
#include <algorithm>
#include <cstdint>

#include "metrics/performance/table.hpp"
#include "numeric/float32.hpp"

namespace zentrova::performance {
namespace {

constexpr float epsilon = 1.1920929e-7f;  // 2^-23
constexpr std::uint64_t exact_float_limit = std::uint64_t{1} << 24;

// Counts the ones of a block whose values are all 0 or 1; false when one is
// something else (a NaN included).
bool count_zero_one_block(const float* values, std::size_t count, std::uint32_t& ones) {
    std::uint32_t sum = 0, other = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const float v = values[k];
        const auto is_one = static_cast<std::uint32_t>(v == 1.0f);
        other |= static_cast<std::uint32_t>(v != 0.0f) & (is_one ^ 1u);
        sum += is_one;
    }
    ones = sum;
    return other == 0;
}

// A float sum taken in index order. While every term is 0 or 1 and the total
// stays within 2^24, every float addition is exact, so the sum is kept as a
// count; from the first block that leaves that range on, the float additions
// are made one by one.
class OrderedSum {
public:
    void add(const float* values, std::size_t count) {
        if (counting_) {
            std::uint32_t block_ones = 0;
            if (count_zero_one_block(values, count, block_ones) && ones_ + block_ones <= exact_float_limit) {
                ones_ += block_ones;
                return;
            }
            counting_ = false;
            running_ = static_cast<float>(ones_);
        }
        for (std::size_t k = 0; k < count; ++k) running_ = running_ + values[k];
    }
    float value() const noexcept { return counting_ ? static_cast<float>(ones_) : running_; }

private:
    bool counting_ = true;
    std::uint64_t ones_ = 0;
    float running_ = 0.0f;
};

struct Columns {
    PerfColumn y_pred;
    PerfColumn y_true;
};

// Counts and sums of the classification metrics, gathered block by block.
struct Confusion {
    OrderedSum sum_true, sum_pred;
    std::uint64_t tp = 0, tn = 0, correct = 0;
    std::size_t n = 0;

    void add(const float* p, const float* t, std::size_t count) {
        std::uint32_t block_tp = 0, block_tn = 0, block_correct = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t agree = std::fabs(t[k] - p[k]) <= epsilon;
            block_tp += agree & static_cast<std::uint32_t>(std::fabs(t[k] - 1.0f) <= epsilon);
            block_tn += agree & static_cast<std::uint32_t>(std::fabs(t[k]) <= epsilon);
            block_correct += static_cast<std::uint32_t>(p[k] == t[k]);
        }
        tp += block_tp;
        tn += block_tn;
        correct += block_correct;
        sum_true.add(t, count);
        sum_pred.add(p, count);
        n += count;
    }

    ConfusionCounts counts() const {
        return {n, tp, tn, correct, sum_true.value(), sum_pred.value()};
    }
};

}  // namespace

std::array<float, classification_count> classification_values(const ConfusionCounts& counts) {
    const float n_f = to_f32(counts.rows);
    const float tp_f = saturating_count(counts.true_positives);
    const float tn_f = saturating_count(counts.true_negatives);
    const float actual_pos = counts.sum_true;
    const float predicted_pos = counts.sum_pred;

    const float recall_positive = tp_f / actual_pos;
    const float recall_negative = tn_f / (n_f - actual_pos);
    const float precision_positive = tp_f / predicted_pos;
    const float precision_negative = tn_f / (n_f - predicted_pos);

    return {
        (recall_positive * recall_negative) * 0.5f,
        precision_positive,
        precision_negative,
        recall_positive,
        recall_negative,
        (1.0f / n_f) * saturating_count(counts.correct),
        ((recall_positive + recall_positive) * precision_positive) / (recall_positive + precision_positive),
    };
}

namespace {

MetricMap classification_metrics(const PerfColumn& y_pred, const PerfColumn& y_true) {
    Confusion confusion;
    columns::for_each_block(y_true.size(), [&](std::size_t, std::size_t count, const float* p, const float* t) {
        confusion.add(p, t, count);
    }, y_pred, y_true);
    return metric_map(classification_table, classification_values(confusion.counts()));
}

MetricMap logistic_regression_metrics(const PerfColumn& y_pred, const PerfColumn& y_true,
                                      float decision_threshold) {
    Confusion confusion;
    float acc = 0.0f;
    std::array<float, columns::block_rows> labels;
    columns::for_each_block(y_true.size(), [&](std::size_t, std::size_t count, const float* p_block, const float* t_block) {
        for (std::size_t k = 0; k < count; ++k) labels[k] = p_block[k] >= decision_threshold ? 1.0f : 0.0f;
        confusion.add(labels.data(), t_block, count);
        for (std::size_t k = 0; k < count; ++k) {
            const float t = t_block[k], p = p_block[k];
            float term;
            // With t exactly 0 or 1 and p strictly between 0 and 1 one of the two
            // products is 0 times a finite logarithm: a zero that cannot change
            // the sum, so one logarithm is enough (chosen without a branch).
            if ((t == 0.0f || t == 1.0f) && p > 0.0f && p < 1.0f) {
                term = std::log10(t == 0.0f ? 1.0f - p : p);
            } else {
                const float a = t * std::log10(p);
                const float b = (1.0f - t) * std::log10(1.0f - p);
                term = a + b;
            }
            acc = acc + term;
        }
    }, y_pred, y_true);

    float log_loss = acc * -(1.0f / to_f32(y_true.size()));
    if (std::isnan(log_loss)) log_loss = 0.0f;
    std::array<float, classification_table.size()> values{};
    const auto classification = classification_values(confusion.counts());
    std::copy(classification.begin(), classification.end(), values.begin());
    values.back() = log_loss;
    return metric_map(classification_table, values);
}

MetricMap regression_metrics(const PerfColumn& y_pred, const PerfColumn& y_true) {
    const std::size_t n = y_true.size();
    const float r = 1.0f / to_f32(n);

    // Independent sums, each in index order, interleaved in one pass.
    float sse = 0.0f, sae = 0.0f, sum_true = 0.0f, largest = 0.0f, sld = 0.0f, sape = 0.0f;
    columns::for_each_block(n, [&](std::size_t, std::size_t count, const float* p, const float* t) {
        for (std::size_t k = 0; k < count; ++k) {
            const float d = t[k] - p[k];
            sse = sse + d * d;
            sae = sae + std::fabs(d);
            sum_true = sum_true + t[k];
            if (d > largest) largest = d;  // a NaN difference leaves the maximum alone
            sld = sld + (std::log10(t[k] + 1.0f) - std::log10(p[k] + 1.0f));
            sape = sape + std::fabs(d) / t[k];
        }
    }, y_pred, y_true);
    const float mean_true = r * sum_true;
    float sst = 0.0f;
    columns::for_each_block(n, [&](std::size_t, std::size_t count, const float* t) {
        for (std::size_t k = 0; k < count; ++k) {
            const float d = t[k] - mean_true;
            sst = sst + d * d;
        }
    }, y_true);

    return metric_map(regression_table, regression_values({r, sse, sae, sst, largest, sld, sape}));
}

}  // namespace

std::array<float, regression_table.size()> regression_values(const RegressionSums& s) {
    const float r = s.reciprocal_rows;
    return {
        std::sqrt(r * s.squared_errors),
        r * s.squared_errors,
        r * s.absolute_errors,
        s.squared_errors / s.squared_deviations,
        s.largest_error,
        (s.log_differences * s.log_differences) / r,
        std::sqrt(s.log_differences * s.log_differences) / r,
        (r * s.relative_errors) * 100.0f,
    };
}

namespace {

Result<Columns> same_length(const columns::ColumnView& y_pred, const columns::ColumnView& y_true) {
    if (y_pred.size != y_true.size) return ErrorCode::LengthsDiffer;
    return Columns{float_column(y_pred), float_column(y_true)};
}

}  // namespace

Result<MetricMap> classification(const columns::ColumnView& y_pred, const columns::ColumnView& y_true) {
    auto columns = same_length(y_pred, y_true);
    if (!columns) return std::move(columns).error();
    if (y_true.size == 0) return ErrorCode::NoData;
    return classification_metrics(columns->y_pred, columns->y_true);
}

Result<MetricMap> logistic_regression(const columns::ColumnView& y_pred, const columns::ColumnView& y_true,
                                      float decision_threshold) {
    auto columns = same_length(y_pred, y_true);
    if (!columns) return std::move(columns).error();
    if (y_true.size == 0) return ErrorCode::NoData;
    return logistic_regression_metrics(columns->y_pred, columns->y_true, decision_threshold);
}

Result<MetricMap> regression(const columns::ColumnView& y_pred, const columns::ColumnView& y_true) {
    auto columns = same_length(y_pred, y_true);
    if (!columns) return std::move(columns).error();
    if (y_true.size == 0) return ErrorCode::RegressionEmpty;
    return regression_metrics(columns->y_pred, columns->y_true);
}

}  // namespace zentrova::performance
