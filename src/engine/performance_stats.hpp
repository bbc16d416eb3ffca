// Mergeable statistics of the three performance families: exact integer counts
// and exact sums of float32 terms, each term computed as the metric defines
// it. Rounding happens once per sum when metrics are asked for, so any split
// of the rows into batches, merged in any order, gives the same metrics.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "columns/dtype.hpp"
#include "common/errors.hpp"
#include "common/metric_map.hpp"
#include "engine/census.hpp"
#include "metrics/performance/table.hpp"
#include "numeric/exact_sum.hpp"

namespace zentrova::engine {

// Rows of a performance column: numeric values read as doubles and rounded to float.
using PerfInput = columns::ColumnView;

// What an update counts of its two columns, for a caller that asks (see census.hpp).
struct PerfCensus {
    ColumnCensus y_pred, y_true;
};

// Counts and sums of the binary classification metrics.
struct ConfusionSums {
    std::uint64_t rows = 0, true_pos = 0, true_neg = 0, correct = 0;
    numeric::ExactSum sum_true, sum_pred;

    void add(const float* predicted, const float* truth, std::size_t count);
    void merge(const ConfusionSums& other);
    std::array<float, performance::classification_count> values() const;
    void write(std::string& out) const;
    bool read(std::string_view& in);
};

class ClassificationCore {
public:
    // Both columns hold the same number of rows.
    void update(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census = nullptr);
    void merge(const ClassificationCore& other) { sums_.merge(other.sums_); }
    // A core of the same settings that holds no rows.
    ClassificationCore fresh() const { return ClassificationCore(); }
    Result<MetricMap> metrics() const;
    std::uint64_t rows() const noexcept { return sums_.rows; }

    std::string encode() const;
    static bool decode(std::string_view bytes, ClassificationCore& out);

private:
    ConfusionSums sums_;
};

class LogisticCore {
public:
    explicit LogisticCore(float decision_threshold = 0.5f) : threshold_(decision_threshold) {}
    float decision_threshold() const noexcept { return threshold_; }

    void update(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census = nullptr);
    void merge(const LogisticCore& other) {
        sums_.merge(other.sums_);
        log_terms_.merge(other.log_terms_);
    }
    LogisticCore fresh() const { return LogisticCore(threshold_); }
    Result<MetricMap> metrics() const;

    std::string encode() const;
    static bool decode(std::string_view bytes, LogisticCore& out);

private:
    void update_blocks(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census);

    float threshold_;
    ConfusionSums sums_;
    numeric::ExactSum log_terms_;
};

class RegressionCore {
public:
    void update(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census = nullptr);
    void merge(const RegressionCore& other);
    RegressionCore fresh() const { return RegressionCore(); }
    Result<MetricMap> metrics() const;

    std::string encode() const;
    static bool decode(std::string_view bytes, RegressionCore& out);

private:
    void update_blocks(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census);

    std::uint64_t rows_ = 0;
    numeric::ExactSum squared_errors_, absolute_errors_, sum_true_, sum_true_squares_, log_differences_,
        percentage_errors_;
    float largest_ = 0.0f;  // the largest t - p, at least +0
};

// The LogLoss term of one row: t × log10(p) + (1 − t) × log10(1 − p), where a
// product whose first factor is exactly 0 is +0 whatever its logarithm.
float log_loss_term(float t, float p) noexcept;

// Base-10 logarithms of a block, identical to the C library's log10f.
void log10_block(const float* in, float* out, std::size_t count) noexcept;

// Values of rows [start, start + count) as floats, each read as a double first.
void read_floats(const PerfInput& column, std::size_t start, std::size_t count, float* out) noexcept;

}  // namespace zentrova::engine
