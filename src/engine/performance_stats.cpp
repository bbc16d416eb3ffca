#include "engine/performance_stats.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "columns/interrupt.hpp"
#include "engine/encoding.hpp"
#include "metrics/performance/metrics.hpp"
#include "numeric/log10f.hpp"
#include "numeric/vector_paths.hpp"

namespace zentrova::engine {
namespace {

constexpr std::size_t block = 2048;
constexpr std::size_t turn_rows = 256;
constexpr float epsilon = 1.1920929e-7f;  // 2^-23

enum Family : std::uint8_t { ClassificationFamily = 3, LogisticFamily = 4, RegressionFamily = 5 };

// With `counted`, also whether census_detail::RowFlag<T, rule> was raised by
// any row of the block, found in the same loop while each value is at hand.
template <class T, ValueRule rule = ValueRule::Any, bool counted = false>
bool convert_values(const PerfInput& column, std::size_t start, std::size_t count, float* out) noexcept {
    using Flag = census_detail::RowFlag<T, rule>;
    const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
    typename Flag::Bits flags = 0;
    const auto convert = [&](std::size_t k, const char* at) {
        T value;
        std::memcpy(&value, at, sizeof value);
        out[k] = static_cast<float>(static_cast<double>(value));
        if constexpr (counted) {
            typename Flag::Bits bits;
            std::memcpy(&bits, &value, sizeof bits);
            flags = static_cast<typename Flag::Bits>(flags | Flag::of(bits));
        }
    };
    if (column.stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        // Contiguous: a fixed stride lets the loop vectorise.
        for (std::size_t k = 0; k < count; ++k) convert(k, base + k * sizeof(T));
    } else {
        for (std::size_t k = 0; k < count; ++k) convert(k, base + static_cast<std::ptrdiff_t>(k) * column.stride);
    }
    return counted && Flag::raised(flags);
}

// Contiguous int64 values within ±2^51 convert to double exactly through the
// bits of 2^52 + 2^51 + v, which vectorises where a direct conversion does not;
// a block holding a larger value converts value by value.
template <ValueRule rule = ValueRule::Any, bool counted = false>
bool convert_int64(const PerfInput& column, std::size_t start, std::size_t count, float* out) noexcept {
    if (column.stride == static_cast<std::ptrdiff_t>(sizeof(std::int64_t))) {
        using Flag = census_detail::RowFlag<std::int64_t, rule>;
        const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
        // Wrapping (unsigned) additions: a value out of range only sets `outside`.
        constexpr std::uint64_t limit = std::uint64_t{1} << 51;
        constexpr double magic = 6755399441055744.0;  // 2^52 + 2^51
        std::uint64_t magic_bits;
        std::memcpy(&magic_bits, &magic, sizeof magic);
        // Integer labels and probabilities are 0 or 1, well within range:
        // their flags tell for both.
        constexpr bool flags_tell = counted && rule != ValueRule::Any;
        std::uint64_t outside = 0, flags = 0;
        for (std::size_t k = 0; k < count; ++k) {
            std::uint64_t value;
            std::memcpy(&value, base + k * sizeof value, sizeof value);
            if constexpr (!flags_tell) outside |= (value + limit) >> 52;  // nonzero unless -2^51 <= v < 2^51
            if constexpr (counted) flags |= Flag::of(value);
            const std::uint64_t shifted = value + magic_bits;
            double widened;
            std::memcpy(&widened, &shifted, sizeof widened);
            out[k] = static_cast<float>(widened - magic);
        }
        if constexpr (flags_tell) outside = static_cast<std::uint64_t>(Flag::raised(flags));
        if (outside == 0) return counted && Flag::raised(flags);
    }
    return convert_values<std::int64_t, rule, counted>(column, start, count, out);
}

// Integer columns converted with their flags; a float column converted
// plainly and reported raised, for the census to look at.
template <ValueRule rule>
bool convert_flagged(const PerfInput& column, std::size_t start, std::size_t count, float* out) noexcept {
    switch (column.kind) {
        case columns::ElementKind::Int16: return convert_values<std::int16_t, rule, true>(column, start, count, out);
        case columns::ElementKind::Int32: return convert_values<std::int32_t, rule, true>(column, start, count, out);
        case columns::ElementKind::Int64: return convert_int64<rule, true>(column, start, count, out);
        default: break;
    }
#if defined(ZENTROVA_X86_SIMD)
    // Contiguous float columns: tested by quiet comparisons in the
    // conversion's own vector loop, where the CPU has AVX2.
    const bool single = column.kind == columns::ElementKind::Float32;
    const auto width = static_cast<std::ptrdiff_t>(single ? sizeof(float) : sizeof(double));
    if (column.stride == width && numeric::dispatch_path() >= numeric::KernelPath::AVX2) {
        const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
        return single ? census_detail::convert_suspect_avx2<float, rule>(base, count, out)
                      : census_detail::convert_suspect_avx2<double, rule>(base, count, out);
    }
#endif
    // Otherwise a pass of their own over the block, still in cache.
    read_floats(column, start, count, out);
    return true;
}

// read_floats, counting the block's original values for `census` too.
void read_counted(const PerfInput& column, std::size_t start, std::size_t count, float* out,
                  ColumnCensus& census) noexcept {
    bool raised = false;
    switch (census.rule) {
        case ValueRule::Label: raised = convert_flagged<ValueRule::Label>(column, start, count, out); break;
        case ValueRule::Probability:
            raised = convert_flagged<ValueRule::Probability>(column, start, count, out);
            break;
        case ValueRule::Any: raised = convert_flagged<ValueRule::Any>(column, start, count, out); break;
    }
    census.add_flagged(raised, column, start, count);
}

// Adds a block of terms; a block of only 0s and 1s (labels, mostly) is a count.
void add_terms(numeric::ExactSum& sum, const float* values, std::size_t count) noexcept {
    std::uint32_t ones = 0, other = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const float v = values[k];
        const auto is_one = static_cast<std::uint32_t>(v == 1.0f);
        other |= static_cast<std::uint32_t>(v != 0.0f) & (is_one ^ 1u);
        ones += is_one;
    }
    if (other == 0) {
        if (ones != 0) sum.add_multiple(1.0f, ones);
        return;
    }
    sum.add(values, count);
}

// The largest of start and the values greater than it, NaN skipped (a NaN is
// never greater). Eight running maxima, merged at the end, vectorise; since
// start is at least +0 and only a greater value replaces a maximum, the result
// does not depend on which lane saw which value.
float running_maximum(const float* values, std::size_t count, float start) noexcept {
    constexpr std::size_t lanes = 8;
    float maxima[lanes];
    for (float& m : maxima) m = start;
    std::size_t k = 0;
    for (; k + lanes <= count; k += lanes)
        for (std::size_t j = 0; j < lanes; ++j) maxima[j] = values[k + j] > maxima[j] ? values[k + j] : maxima[j];
    for (; k < count; ++k) maxima[0] = values[k] > maxima[0] ? values[k] : maxima[0];
    float largest = start;
    for (float m : maxima) largest = m > largest ? m : largest;
    return largest;
}

// Calls body(count, p, t) for consecutive blocks of both columns as floats;
// with a census, counts each block's original values while they are in cache.
template <class Body>
void for_each_float_block(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census, Body&& body) {
    std::array<float, block> p, t;
    const std::size_t rows = std::min(y_pred.size, y_true.size);
    columns::InterruptPoller poller;
    for (std::size_t start = 0; start < rows; start += block) {
        const std::size_t count = std::min(block, rows - start);
        poller.advance(count);
        // The columns are read in turns of a few rows: streams read side by
        // side keep more memory requests in flight than one column at a time.
        for (std::size_t part = 0; part < count; part += turn_rows) {
            const std::size_t length = std::min(turn_rows, count - part);
            if (census == nullptr) {
                read_floats(y_pred, start + part, length, p.data() + part);
                read_floats(y_true, start + part, length, t.data() + part);
            } else {
                read_counted(y_pred, start + part, length, p.data() + part, census->y_pred);
                read_counted(y_true, start + part, length, t.data() + part, census->y_true);
            }
        }
        body(count, p.data(), t.data());
    }
}

bool read_sum(Reader& in, numeric::ExactSum& sum) { return numeric::ExactSum::deserialize(in.rest(), sum); }

template <class Core>
bool decode_whole(std::string_view bytes, std::uint8_t family, Core& out, bool (*body)(Reader&, Core&)) {
    Reader reader;
    if (!Reader::open(bytes, family, reader)) return false;
    Core core;
    if (!body(reader, core) || !reader.done()) return false;
    out = std::move(core);
    return true;
}

}  // namespace

void read_floats(const PerfInput& column, std::size_t start, std::size_t count, float* out) noexcept {
    switch (column.kind) {
        case columns::ElementKind::Int16: convert_values<std::int16_t>(column, start, count, out); return;
        case columns::ElementKind::Int32: convert_values<std::int32_t>(column, start, count, out); return;
        case columns::ElementKind::Int64: convert_int64(column, start, count, out); return;
        case columns::ElementKind::Float32: convert_values<float>(column, start, count, out); return;
        default: convert_values<double>(column, start, count, out); return;
    }
}

void log10_block(const float* in, float* out, std::size_t count) noexcept {
    numeric::log10f_array(in, out, count);
}

float log_loss_term(float t, float p) noexcept {
    const float a = t == 0.0f ? 0.0f : t * std::log10(p);
    const float one_minus_t = 1.0f - t;
    const float b = one_minus_t == 0.0f ? 0.0f : one_minus_t * std::log10(1.0f - p);
    return a + b;
}

// ---------------------------------------------------------------- classification

void ConfusionSums::add(const float* p, const float* t, std::size_t count) {
    std::uint32_t block_tp = 0, block_tn = 0, block_correct = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t agree = std::fabs(t[k] - p[k]) <= epsilon;
        block_tp += agree & static_cast<std::uint32_t>(std::fabs(t[k] - 1.0f) <= epsilon);
        block_tn += agree & static_cast<std::uint32_t>(std::fabs(t[k]) <= epsilon);
        block_correct += static_cast<std::uint32_t>(p[k] == t[k]);
    }
    true_pos += block_tp;
    true_neg += block_tn;
    correct += block_correct;
    rows += count;
    add_terms(sum_true, t, count);
    add_terms(sum_pred, p, count);
}

void ConfusionSums::merge(const ConfusionSums& other) {
    rows += other.rows;
    true_pos += other.true_pos;
    true_neg += other.true_neg;
    correct += other.correct;
    sum_true.merge(other.sum_true);
    sum_pred.merge(other.sum_pred);
}

std::array<float, performance::classification_count> ConfusionSums::values() const {
    return performance::classification_values({rows, true_pos, true_neg, correct, sum_true.value(), sum_pred.value()});
}

void ConfusionSums::write(std::string& out) const {
    Writer writer;
    writer.u64(rows);
    writer.u64(true_pos);
    writer.u64(true_neg);
    writer.u64(correct);
    out += writer.raw();
    sum_true.serialize(out);
    sum_pred.serialize(out);
}

bool ConfusionSums::read(std::string_view& in) {
    Reader reader(in);
    if (!reader.u64(rows) || !reader.u64(true_pos) || !reader.u64(true_neg) || !reader.u64(correct)) return false;
    // A row is a true positive, a true negative or neither; both need agreement.
    if (true_pos > rows || true_neg > rows - true_pos || correct > rows) return false;
    if (!read_sum(reader, sum_true) || !read_sum(reader, sum_pred)) return false;
    in = reader.rest();
    return true;
}

void ClassificationCore::update(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census) {
    numeric::run_on_vector_path([&](auto) {
        for_each_float_block(y_pred, y_true, census, [&](std::size_t count, const float* p, const float* t) {
            sums_.add(p, t, count);
        });
    });
}

Result<MetricMap> ClassificationCore::metrics() const {
    if (sums_.rows == 0) return ErrorCode::NoData;
    return metric_map(performance::classification_table, sums_.values());
}

std::string ClassificationCore::encode() const {
    Writer writer(ClassificationFamily);
    sums_.write(writer.raw());
    return writer.finish();
}

bool ClassificationCore::decode(std::string_view bytes, ClassificationCore& out) {
    return decode_whole<ClassificationCore>(bytes, ClassificationFamily, out, [](Reader& in, ClassificationCore& core) {
        return core.sums_.read(in.rest());
    });
}

// ---------------------------------------------------------------- logistic

void LogisticCore::update(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census) {
    numeric::run_on_vector_path([&](auto) { update_blocks(y_pred, y_true, census); });
}

void LogisticCore::update_blocks(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census) {
    std::array<float, block> labels, argument, logarithm;
    const float threshold = threshold_;
    for_each_float_block(y_pred, y_true, census, [&](std::size_t count, const float* p, const float* t) {
        for (std::size_t k = 0; k < count; ++k) labels[k] = p[k] >= threshold ? 1.0f : 0.0f;
        sums_.add(labels.data(), t, count);
        // A label of exactly 0 or 1 leaves one logarithm: of 1 - p for 0, of p
        // for 1; the other product is +0 by definition. Chosen without a branch.
        // Both candidates are computed for every row and picked by a mask: a
        // conditional subtraction would be a jump (the compiler may not
        // speculate a floating-point operation), mispredicted on random labels.
        std::uint32_t general = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t zero = 0u - static_cast<std::uint32_t>(t[k] == 0.0f);
            const std::uint32_t kept = std::bit_cast<std::uint32_t>(p[k]);
            const std::uint32_t flipped = std::bit_cast<std::uint32_t>(1.0f - p[k]);
            argument[k] = std::bit_cast<float>((flipped & zero) | (kept & ~zero));
            general |= ~zero & static_cast<std::uint32_t>(t[k] != 1.0f);
        }
        log10_block(argument.data(), logarithm.data(), count);
        if (general != 0) {
            for (std::size_t k = 0; k < count; ++k)
                if (t[k] != 0.0f && t[k] != 1.0f) logarithm[k] = log_loss_term(t[k], p[k]);
        }
        log_terms_.add(logarithm.data(), count);
    });
}

Result<MetricMap> LogisticCore::metrics() const {
    if (sums_.rows == 0) return ErrorCode::NoData;
    std::array<float, performance::classification_table.size()> values{};
    const std::array<float, performance::classification_count> classification = sums_.values();
    std::copy(classification.begin(), classification.end(), values.begin());
    // NaN stays NaN: a broken computation is not a perfect score.
    values.back() = log_terms_.value() * -(1.0f / static_cast<float>(sums_.rows));
    return metric_map(performance::classification_table, values);
}

std::string LogisticCore::encode() const {
    Writer writer(LogisticFamily);
    writer.f32(threshold_);
    sums_.write(writer.raw());
    log_terms_.serialize(writer.raw());
    return writer.finish();
}

bool LogisticCore::decode(std::string_view bytes, LogisticCore& out) {
    return decode_whole<LogisticCore>(bytes, LogisticFamily, out, [](Reader& in, LogisticCore& core) {
        return in.f32(core.threshold_) && core.sums_.read(in.rest()) && read_sum(in, core.log_terms_);
    });
}

// ---------------------------------------------------------------- regression

void RegressionCore::update(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census) {
    numeric::run_on_vector_path([&](auto) { update_blocks(y_pred, y_true, census); });
}

void RegressionCore::update_blocks(const PerfInput& y_pred, const PerfInput& y_true, PerfCensus* census) {
    std::array<float, block> squared, absolute, difference, shifted_true, shifted_pred, log_true, log_pred, percentage;
    for_each_float_block(y_pred, y_true, census, [&](std::size_t count, const float* p, const float* t) {
        for (std::size_t k = 0; k < count; ++k) {
            const float d = t[k] - p[k];
            squared[k] = d * d;
            absolute[k] = std::fabs(d);
            percentage[k] = std::fabs(d) / t[k];
            difference[k] = d;
            shifted_true[k] = t[k] + 1.0f;
            shifted_pred[k] = p[k] + 1.0f;
        }
        largest_ = running_maximum(difference.data(), count, largest_);
        log10_block(shifted_true.data(), log_true.data(), count);
        log10_block(shifted_pred.data(), log_pred.data(), count);
        for (std::size_t k = 0; k < count; ++k) log_true[k] = log_true[k] - log_pred[k];
        squared_errors_.add(squared.data(), count);
        absolute_errors_.add(absolute.data(), count);
        percentage_errors_.add(percentage.data(), count);
        log_differences_.add(log_true.data(), count);
        sum_true_.add(t, count);
        sum_true_squares_.add_squares(t, count);
        rows_ += count;
    });
}

void RegressionCore::merge(const RegressionCore& other) {
    rows_ += other.rows_;
    squared_errors_.merge(other.squared_errors_);
    absolute_errors_.merge(other.absolute_errors_);
    sum_true_.merge(other.sum_true_);
    sum_true_squares_.merge(other.sum_true_squares_);
    log_differences_.merge(other.log_differences_);
    percentage_errors_.merge(other.percentage_errors_);
    largest_ = std::max(largest_, other.largest_);
}

Result<MetricMap> RegressionCore::metrics() const {
    if (rows_ == 0) return ErrorCode::RegressionEmpty;
    const float r = 1.0f / static_cast<float>(rows_);
    const float mean_true = r * sum_true_.value();
    const float sst = numeric::squared_deviations(sum_true_, sum_true_squares_, rows_, mean_true);
    return metric_map(performance::regression_table,
                      performance::regression_values({r, squared_errors_.value(), absolute_errors_.value(), sst,
                                                      largest_, log_differences_.value(),
                                                      percentage_errors_.value()}));
}

std::string RegressionCore::encode() const {
    Writer writer(RegressionFamily);
    writer.u64(rows_);
    writer.f32(largest_);
    for (const numeric::ExactSum* sum : {&squared_errors_, &absolute_errors_, &sum_true_, &sum_true_squares_,
                                         &log_differences_, &percentage_errors_})
        sum->serialize(writer.raw());
    return writer.finish();
}

bool RegressionCore::decode(std::string_view bytes, RegressionCore& out) {
    return decode_whole<RegressionCore>(bytes, RegressionFamily, out, [](Reader& in, RegressionCore& core) {
        if (!in.u64(core.rows_) || !in.f32(core.largest_)) return false;
        // The largest difference starts at +0 and only grows.
        if (!(core.largest_ >= 0.0f) || std::signbit(core.largest_)) return false;
        for (numeric::ExactSum* sum : {&core.squared_errors_, &core.absolute_errors_, &core.sum_true_,
                                       &core.sum_true_squares_, &core.log_differences_, &core.percentage_errors_})
            if (!read_sum(in, *sum)) return false;
        return true;
    });
}

}  // namespace zentrova::engine
