#include "model_perf/metrics.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include "float32.hpp"

namespace zentrova::model_perf {
namespace {

constexpr float epsilon = 1.1920929e-7f;  // 2^-23

// One pass over both columns: the two sums run in index order, interleaved.
template <class Prediction>
MetricMap classify(std::size_t n, Prediction prediction, std::span<const float> y_true) {
    float sum_true = 0.0f, sum_pred = 0.0f;
    std::uint64_t tp = 0, tn = 0, correct = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float t = y_true[i];
        const float p = prediction(i);
        sum_true = sum_true + t;
        sum_pred = sum_pred + p;
        const bool agree = std::fabs(t - p) <= epsilon;
        tp += agree & (std::fabs(t - 1.0f) <= epsilon);
        tn += agree & (std::fabs(t) <= epsilon);
        correct += p == t;
    }
    const float n_f = to_f32(n);
    const float tp_f = saturating_count(tp);
    const float tn_f = saturating_count(tn);

    const float recall_positive = tp_f / sum_true;
    const float recall_negative = tn_f / (n_f - sum_true);
    const float precision_positive = tp_f / sum_pred;
    const float precision_negative = tn_f / (n_f - sum_pred);

    MetricMap metrics;
    metrics.reserve(8);
    metrics.emplace("BalancedAccuracy", (recall_positive * recall_negative) * 0.5f);
    metrics.emplace("PrecisionPositive", precision_positive);
    metrics.emplace("PrecisionNegative", precision_negative);
    metrics.emplace("RecallPositive", recall_positive);
    metrics.emplace("RecallNegative", recall_negative);
    metrics.emplace("Accuracy", (1.0f / n_f) * saturating_count(correct));
    metrics.emplace("F1Score", ((recall_positive + recall_positive) * precision_positive) /
                                   (recall_positive + precision_positive));
    return metrics;
}

}  // namespace

MetricMap classification_metrics(std::span<const float> y_pred, std::span<const float> y_true) {
    return classify(y_true.size(), [&](std::size_t i) { return y_pred[i]; }, y_true);
}

MetricMap logistic_regression_metrics(std::span<const float> y_pred, std::span<const float> y_true,
                                      float decision_threshold) {
    const std::size_t n = y_true.size();
    MetricMap metrics = classify(
        n, [&](std::size_t i) { return y_pred[i] >= decision_threshold ? 1.0f : 0.0f; }, y_true);

    float acc = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float t = y_true[i], p = y_pred[i];
        float term;
        // With t exactly 0 or 1 and p strictly between 0 and 1 one of the two
        // products is 0 times a finite logarithm: a zero that cannot change the sum.
        if (t == 0.0f && p > 0.0f && p < 1.0f) {
            term = std::log10(1.0f - p);
        } else if (t == 1.0f && p > 0.0f && p < 1.0f) {
            term = std::log10(p);
        } else {
            const float a = t * std::log10(p);
            const float b = (1.0f - t) * std::log10(1.0f - p);
            term = a + b;
        }
        acc = acc + term;
    }
    float log_loss = acc * -(1.0f / to_f32(n));
    if (std::isnan(log_loss)) log_loss = 0.0f;
    metrics.emplace("LogLoss", log_loss);
    return metrics;
}

MetricMap regression_metrics(std::span<const float> y_pred, std::span<const float> y_true) {
    const std::size_t n = y_true.size();
    const float r = 1.0f / to_f32(n);

    float sse = 0.0f, sae = 0.0f, sum_true = 0.0f, largest = 0.0f, sld = 0.0f, sape = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float t = y_true[i], p = y_pred[i];
        const float d = t - p;
        sse = sse + d * d;
        sae = sae + std::fabs(d);
        sum_true = sum_true + t;
        if (d > largest) largest = d;  // a NaN difference leaves the maximum alone
        sld = sld + (std::log10(t + 1.0f) - std::log10(p + 1.0f));
        sape = sape + std::fabs(d) / t;
    }
    const float mean_true = r * sum_true;
    float sst = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float d = y_true[i] - mean_true;
        sst = sst + d * d;
    }

    MetricMap metrics;
    metrics.reserve(8);
    metrics.emplace("RootMeanSquaredError", std::sqrt(r * sse));
    metrics.emplace("MeanSquaredError", r * sse);
    metrics.emplace("MeanAbsoluteError", r * sae);
    metrics.emplace("RSquared", sse / sst);
    metrics.emplace("MaxError", largest);
    metrics.emplace("MeanSquaredLogError", (sld * sld) / r);
    metrics.emplace("RootMeanSquaredLogError", std::sqrt(sld * sld) / r);
    metrics.emplace("MeanAbsolutePercentageError", (r * sape) * 100.0f);
    return metrics;
}

}  // namespace zentrova::model_perf
