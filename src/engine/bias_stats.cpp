#include "engine/bias_stats.hpp"

#include <algorithm>

#if defined(ZENTROVA_X86_SIMD)
#include <immintrin.h>
#endif

#include "columns/interrupt.hpp"
#include "engine/encoding.hpp"
#include "metrics/data_bias/pre_training.hpp"
#include "metrics/model_bias/post_training.hpp"

namespace zentrova::engine {
namespace {

constexpr std::size_t block = label_block_rows;
// Rows of each numeric column read before the next column's (see count_batch).
// Three columns take longer turns: two calls at once on their own cores, six
// streams switching every 256 rows, were at times no faster than the calls
// one after the other; turns of 1,024 rows kept them near 1.8x, for one call
// alone about a tenth slower. Two columns measured alike either way.
template <std::size_t Columns>
constexpr std::size_t turn_rows = Columns == 2 ? 256 : 1024;

// Adds how often each code occurs; four tables break the dependency between
// neighbouring rows of the same code.
template <std::size_t Bins>
void count_codes(const std::uint8_t* codes, std::size_t n, std::array<std::uint64_t, Bins>& counts) {
    std::uint32_t tables[4][Bins] = {};
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        ++tables[0][codes[k]];
        ++tables[1][codes[k + 1]];
        ++tables[2][codes[k + 2]];
        ++tables[3][codes[k + 3]];
    }
    for (; k < n; ++k) ++tables[0][codes[k]];
    for (std::size_t b = 0; b < Bins; ++b)
        counts[b] += std::uint64_t{tables[0][b]} + tables[1][b] + tables[2][b] + tables[3][b];
}

// Two labelled columns need only the counts of their rule bits and of the
// pairs of those bits: eight sums that vectorise, where a histogram would not.
// The sums fix the sixteen code counts, since a row equal to its label is at
// least the label (code bits of a column are 00, 10 or 11).
class PairCounter {
public:
    template <class Isa>
    void add(const std::uint8_t* facet, const std::uint8_t* truth, std::size_t n) {
#if defined(ZENTROVA_X86_SIMD)
        std::size_t k = 0;
        if constexpr (isa::wide<Isa>)
            k = add_avx2(facet, truth, n);
        else if constexpr (std::is_same_v<Isa, isa::Sse2>)
            k = add_sse2(facet, truth, n);
        facet += k;
        truth += k;
        n -= k;
        rows_ += k;
#endif
        // Byte-wide sums over at most 255 rows cannot wrap, and add 16 rows an
        // instruction.
        for (std::size_t start = 0; start < n; start += 255) {
            const std::size_t end = std::min(n, start + 255);
            std::uint8_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, s5 = 0, s6 = 0, s7 = 0;
            for (std::size_t k = start; k < end; ++k) {
                const std::uint8_t f = facet[k], t = truth[k];
                const auto fe = static_cast<std::uint8_t>(f & 1), fg = static_cast<std::uint8_t>(f >> 1);
                const auto te = static_cast<std::uint8_t>(t & 1), tg = static_cast<std::uint8_t>(t >> 1);
                s0 = static_cast<std::uint8_t>(s0 + fe);
                s1 = static_cast<std::uint8_t>(s1 + fg);
                s2 = static_cast<std::uint8_t>(s2 + te);
                s3 = static_cast<std::uint8_t>(s3 + tg);
                s4 = static_cast<std::uint8_t>(s4 + (fe & te));
                s5 = static_cast<std::uint8_t>(s5 + (fe & tg));
                s6 = static_cast<std::uint8_t>(s6 + (fg & te));
                s7 = static_cast<std::uint8_t>(s7 + (fg & tg));
            }
            sums_[0] += s0;
            sums_[1] += s1;
            sums_[2] += s2;
            sums_[3] += s3;
            sums_[4] += s4;
            sums_[5] += s5;
            sums_[6] += s6;
            sums_[7] += s7;
        }
        rows_ += n;
    }

    // Adds the code counts the sums stand for.
    void settle(std::array<std::uint64_t, 16>& counts) const {
        const auto [fe, fg, te, tg, fe_te, fe_tg, fg_te, fg_tg] = sums_;
        constexpr std::size_t none = 0, at_least = 2, equal = 3;  // a column's bits
        auto at = [&](std::size_t facet, std::size_t truth) -> std::uint64_t& { return counts[facet | truth << 2]; };
        const std::uint64_t only_ge_both = fg_tg - fe_tg - fg_te + fe_te;
        at(equal, equal) += fe_te;
        at(equal, at_least) += fe_tg - fe_te;
        at(at_least, equal) += fg_te - fe_te;
        at(at_least, at_least) += only_ge_both;
        at(none, equal) += te - fg_te;
        at(none, at_least) += (tg - te) - (fg_tg - fg_te);
        at(equal, none) += fe - fe_tg;
        at(at_least, none) += (fg - fe) - (fg_tg - fe_tg);
        at(none, none) += rows_ - fg - tg + fg_tg;
    }

private:
#if defined(ZENTROVA_X86_SIMD)
    // The same eight sums in byte lanes, each lane adding at most 255 rows
    // before it is emptied; return the rows done (whole vectors only).
    std::size_t add_sse2(const std::uint8_t* facet, const std::uint8_t* truth, std::size_t n) noexcept {
        const __m128i one = _mm_set1_epi8(1), zero = _mm_setzero_si128();
        std::size_t k = 0;
        while (n - k >= 16) {
            const std::size_t end = k + 16 * std::min<std::size_t>(255, (n - k) / 16);
            __m128i lane[8];
            for (__m128i& l : lane) l = zero;
            for (; k < end; k += 16) {
                const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(facet + k));
                const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(truth + k));
                const __m128i fe = _mm_and_si128(f, one), fg = _mm_and_si128(_mm_srli_epi16(f, 1), one);
                const __m128i te = _mm_and_si128(t, one), tg = _mm_and_si128(_mm_srli_epi16(t, 1), one);
                lane[0] = _mm_add_epi8(lane[0], fe);
                lane[1] = _mm_add_epi8(lane[1], fg);
                lane[2] = _mm_add_epi8(lane[2], te);
                lane[3] = _mm_add_epi8(lane[3], tg);
                lane[4] = _mm_add_epi8(lane[4], _mm_and_si128(fe, te));
                lane[5] = _mm_add_epi8(lane[5], _mm_and_si128(fe, tg));
                lane[6] = _mm_add_epi8(lane[6], _mm_and_si128(fg, te));
                lane[7] = _mm_add_epi8(lane[7], _mm_and_si128(fg, tg));
            }
            for (std::size_t q = 0; q < 8; ++q) {
                const __m128i wide = _mm_sad_epu8(lane[q], zero);  // two 64-bit sums
                sums_[q] += static_cast<std::uint64_t>(_mm_cvtsi128_si64(wide)) +
                            static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(wide, wide)));
            }
        }
        return k;
    }

    __attribute__((target("avx2"))) std::size_t add_avx2(const std::uint8_t* facet, const std::uint8_t* truth,
                                                         std::size_t n) noexcept {
        const __m256i one = _mm256_set1_epi8(1), zero = _mm256_setzero_si256();
        std::size_t k = 0;
        while (n - k >= 32) {
            const std::size_t end = k + 32 * std::min<std::size_t>(255, (n - k) / 32);
            __m256i lane[8];
            for (__m256i& l : lane) l = zero;
            for (; k < end; k += 32) {
                const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(facet + k));
                const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(truth + k));
                const __m256i fe = _mm256_and_si256(f, one), fg = _mm256_and_si256(_mm256_srli_epi16(f, 1), one);
                const __m256i te = _mm256_and_si256(t, one), tg = _mm256_and_si256(_mm256_srli_epi16(t, 1), one);
                lane[0] = _mm256_add_epi8(lane[0], fe);
                lane[1] = _mm256_add_epi8(lane[1], fg);
                lane[2] = _mm256_add_epi8(lane[2], te);
                lane[3] = _mm256_add_epi8(lane[3], tg);
                lane[4] = _mm256_add_epi8(lane[4], _mm256_and_si256(fe, te));
                lane[5] = _mm256_add_epi8(lane[5], _mm256_and_si256(fe, tg));
                lane[6] = _mm256_add_epi8(lane[6], _mm256_and_si256(fg, te));
                lane[7] = _mm256_add_epi8(lane[7], _mm256_and_si256(fg, tg));
            }
            for (std::size_t q = 0; q < 8; ++q) {
                const __m256i wide = _mm256_sad_epu8(lane[q], zero);  // four 64-bit sums
                const __m128i pair = _mm_add_epi64(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
                sums_[q] += static_cast<std::uint64_t>(_mm_cvtsi128_si64(pair)) +
                            static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(pair, pair)));
            }
        }
        return k;
    }
#endif

    std::array<std::uint64_t, 8> sums_{};
    std::uint64_t rows_ = 0;
};

void write_label(Writer& out, const LabelValue& label) {
    out.u8(static_cast<std::uint8_t>(label.tag));
    if (label.tag == LabelValue::Tag::Float) out.f64(label.real);
    if (label.tag == LabelValue::Tag::Int || label.tag == LabelValue::Tag::Text) out.text(label.text);
}

bool valid_integer_text(std::string_view text) {
    if (text.empty() || text.size() > 4096) return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    if (text[i] == '0' && text.size() > i + 1) return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return text != "-0";
}

bool read_label(Reader& in, LabelValue& label) {
    std::uint8_t tag;
    if (!in.u8(tag) || tag > static_cast<std::uint8_t>(LabelValue::Tag::Other)) return false;
    label.tag = static_cast<LabelValue::Tag>(tag);
    switch (label.tag) {
        case LabelValue::Tag::Float: return in.f64(label.real);
        case LabelValue::Tag::Int: return in.text(label.text) && valid_integer_text(label.text);
        case LabelValue::Tag::Text: return in.text(label.text);
        case LabelValue::Tag::Other: return true;
    }
    return false;
}

}  // namespace

template <std::size_t Columns>
std::optional<std::string> BiasStats<Columns>::difference(
    const BiasStats& other, const std::array<std::string_view, Columns>& names) const {
    for (std::size_t c = 0; c < Columns; ++c)
        if (!(columns_[c].label == other.columns_[c].label))
            return std::string(names[c]) + "_label_or_threshold differs";
    std::array<ColumnKind, Columns> kinds;
    for (std::size_t c = 0; c < Columns; ++c) kinds[c] = other.columns_[c].kind;
    return batch_difference(kinds, names);
}

template <std::size_t Columns>
std::optional<std::string> BiasStats<Columns>::batch_difference(
    const std::array<ColumnKind, Columns>& kinds, const std::array<std::string_view, Columns>& names) const {
    for (std::size_t c = 0; c < Columns; ++c) {
        const ColumnKind mine = columns_[c].kind, theirs = kinds[c];
        if (mine != ColumnKind::Unset && theirs != ColumnKind::Unset && mine != theirs)
            return std::string(names[c]) + "_array column kind differs: " + kind_name(mine) + " and " +
                   kind_name(theirs);
    }
    return std::nullopt;
}

namespace {

// Labels and counts rows [0, rows) of a batch (the shortest column's rows) and
// adds the keys of every column's remaining rows; with `census` (one per
// column), counts every row of each column as well.
template <class Isa, std::size_t Columns>
void count_batch(const std::array<const labelling::LabelInput*, Columns>& batch, std::size_t rows,
                 LabelledColumnState* columns, std::uint64_t* counts, ColumnCensus* census) {
    constexpr std::size_t bins = std::size_t{1} << (2 * Columns);
    columns::InterruptPoller poller;
    std::array<std::uint8_t, block> bits[Columns];
    std::array<std::uint8_t, block> codes;
    std::array<std::uint64_t, bins> tally{};
    PairCounter pairs;
    // Numeric columns are read in turns of a few rows: streams read side by
    // side keep more memory requests in flight than one column at a time.
    // Text, wider per row, measured no faster so: a block a column.
    bool numeric = true;
    for (std::size_t c = 0; c < Columns; ++c)
        numeric = numeric && columns::family_of(batch[c]->view.kind) != columns::Family::Text;
    const std::size_t turn = numeric ? turn_rows<Columns> : block;
    for (std::size_t start = 0; start < rows; start += block) {
        const std::size_t count = std::min(block, rows - start);
        poller.advance(count);
        for (std::size_t part = 0; part < count; part += turn) {
            const std::size_t rows_of_part = std::min(turn, count - part);
            for (std::size_t c = 0; c < Columns; ++c) {
                const Gaps gaps = label_block<Isa>(*batch[c], start + part, rows_of_part, bits[c].data() + part,
                                                   columns[c].keys);
                // While the rows are still in cache; rows the key scan already
                // found free of NaN need no look of their own.
                if (census != nullptr && gaps != Gaps::None) census[c].add(batch[c]->view, start + part, rows_of_part);
            }
        }
        if constexpr (Columns == 2) {
            pairs.add<Isa>(bits[0].data(), bits[1].data(), count);
        } else {
            for (std::size_t k = 0; k < count; ++k) {
                std::uint8_t code = bits[0][k];
                for (std::size_t c = 1; c < Columns; ++c)
                    code = static_cast<std::uint8_t>(code | (bits[c][k] << (2 * c)));
                codes[k] = code;
            }
            count_codes<bins>(codes.data(), count, tally);
        }
    }
    if constexpr (Columns == 2) pairs.settle(tally);
    for (std::size_t b = 0; b < bins; ++b) counts[b] += tally[b];
    for (std::size_t c = 0; c < Columns; ++c) {
        const std::size_t size = input_size(*batch[c]);
        for (std::size_t start = rows; start < size; start += block) {
            poller.advance(std::min(block, size - start));
            scan_block_keys(*batch[c], start, std::min(block, size - start), columns[c].keys);
            if (census != nullptr) census[c].add(batch[c]->view, start, std::min(block, size - start));
        }
    }
}

}  // namespace

template <std::size_t Columns>
void BiasStats<Columns>::update(const std::array<const labelling::LabelInput*, Columns>& batch,
                                std::array<ColumnCensus, Columns>* census) {
    std::size_t rows = input_size(*batch[0]);
    for (std::size_t c = 1; c < Columns; ++c) rows = std::min(rows, input_size(*batch[c]));
    ColumnCensus* counted = census != nullptr ? census->data() : nullptr;
    numeric::run_on_vector_path(
        [&]<class Isa>(Isa) { count_batch<Isa, Columns>(batch, rows, columns_.data(), counts_.data(), counted); });
    for (std::size_t c = 0; c < Columns; ++c)
        if (columns_[c].kind == ColumnKind::Unset) columns_[c].kind = kind_of(*batch[c]);
}

template <std::size_t Columns>
void BiasStats<Columns>::merge(const BiasStats& other) {
    for (std::size_t c = 0; c < Columns; ++c) {
        if (columns_[c].kind == ColumnKind::Unset) columns_[c].kind = other.columns_[c].kind;
        columns_[c].keys.merge(other.columns_[c].keys);
    }
    for (std::size_t b = 0; b < bins; ++b) counts_[b] += other.counts_[b];
}

template <std::size_t Columns>
void BiasStats<Columns>::write(std::string& out) const {
    Writer writer;
    for (const LabelledColumnState& column : columns_) {
        write_label(writer, column.label);
        writer.u8(static_cast<std::uint8_t>(column.kind));
        writer.u8(column.keys.many ? 3 : column.keys.count);
        writer.u32(static_cast<std::uint32_t>(column.keys.keys[0]));
        writer.u32(static_cast<std::uint32_t>(column.keys.keys[1]));
    }
    for (const std::uint64_t count : counts_) writer.u64(count);
    out += writer.raw();
}

template <std::size_t Columns>
bool BiasStats<Columns>::read(std::string_view& in, BiasStats& out) {
    Reader reader(in);
    BiasStats stats;
    for (LabelledColumnState& column : stats.columns_) {
        std::uint8_t kind, count;
        std::uint32_t first, second;
        if (!read_label(reader, column.label) || !reader.u8(kind) || !reader.u8(count) || !reader.u32(first) ||
            !reader.u32(second))
            return false;
        if (kind > static_cast<std::uint8_t>(ColumnKind::Text) || count > 3) return false;
        column.kind = static_cast<ColumnKind>(kind);
        column.keys.many = count == 3;
        column.keys.count = count == 3 ? 0 : count;
        column.keys.keys[0] = static_cast<std::int32_t>(first);
        column.keys.keys[1] = static_cast<std::int32_t>(second);
        if (!column.keys.valid()) return false;
        // Text rows carry no keys; a column without rows has none either.
        const bool keyless = column.keys.count == 0 && !column.keys.many;
        if ((column.kind == ColumnKind::Text || column.kind == ColumnKind::Unset) && !keyless) return false;
    }
    std::uint64_t total = 0;
    for (std::size_t b = 0; b < bins; ++b) {
        if (!reader.u64(stats.counts_[b])) return false;
        if (stats.counts_[b] > ~std::uint64_t{0} - total) return false;
        total += stats.counts_[b];
        // A row at least equal to its label is at least the label: bit 0 implies bit 1,
        // and a text row sets both or neither.
        for (std::size_t c = 0; c < Columns; ++c) {
            const std::size_t pair = (b >> (2 * c)) & 3;
            const bool possible = stats.columns_[c].kind == ColumnKind::Text ? (pair == 0 || pair == 3) : pair != 1;
            if (!possible && stats.counts_[b] != 0) return false;
        }
    }
    for (const LabelledColumnState& column : stats.columns_)
        if (column.kind == ColumnKind::Unset && total != 0) return false;
    in = reader.rest();
    out = std::move(stats);
    return true;
}

template class BiasStats<2>;
template class BiasStats<3>;

namespace {

enum Family : std::uint8_t { DataBiasFamily = 1, ModelBiasFamily = 2 };

template <class Stats>
std::string encode_family(const Stats& stats, std::uint8_t family) {
    Writer writer(family);
    stats.write(writer.raw());
    return writer.finish();
}

template <class Stats>
bool decode_family(std::string_view bytes, Stats& out, std::uint8_t family) {
    Reader reader;
    if (!Reader::open(bytes, family, reader)) return false;
    Stats stats;
    if (!Stats::read(reader.rest(), stats) || !reader.done()) return false;
    out = std::move(stats);
    return true;
}

}  // namespace

std::string encode(const DataBiasCore& stats) { return encode_family(stats, DataBiasFamily); }
std::string encode(const ModelBiasCore& stats) { return encode_family(stats, ModelBiasFamily); }
bool decode(std::string_view bytes, DataBiasCore& out) { return decode_family(bytes, out, DataBiasFamily); }
bool decode(std::string_view bytes, ModelBiasCore& out) { return decode_family(bytes, out, ModelBiasFamily); }

Result<MetricMap> data_bias_metrics(const DataBiasCore& stats) {
    const std::uint8_t facet_bit = stats.column(0).rule_bit(), truth_bit = stats.column(1).rule_bit();
    data_bias::GroupLabels facet, rest;
    for (std::size_t code = 0; code < DataBiasCore::bins; ++code) {
        const std::uint64_t count = stats.counts()[code];
        data_bias::GroupLabels& group = code & facet_bit ? facet : rest;
        group.rows += count;
        if ((code >> 2) & truth_bit) group.positives += count;
    }
    if (facet.rows == 0 || rest.rows == 0) return ErrorCode::NoDeviationData;
    return metric_map(data_bias::table, data_bias::pre_training_values({facet, rest}));
}

Result<MetricMap> model_bias_metrics(const ModelBiasCore& stats) {
    const std::uint8_t facet_bit = stats.column(0).rule_bit(), prediction_bit = stats.column(1).rule_bit(),
                       truth_bit = stats.column(2).rule_bit();
    model_bias::GroupTally facet, rest;
    for (std::size_t code = 0; code < ModelBiasCore::bins; ++code) {
        const std::uint64_t count = stats.counts()[code];
        model_bias::GroupTally& group = code & facet_bit ? facet : rest;
        const bool predicted = (code >> 2) & prediction_bit, labelled = (code >> 4) & truth_bit;
        group.rows += count;
        if (predicted) group.pred_pos += count;
        if (labelled) group.label_pos += count;
        if (predicted && labelled) group.true_pos += count;
    }
    if (facet.rows == 0 || rest.rows == 0) return ErrorCode::NoDeviationModel;
    return metric_map(model_bias::table, model_bias::post_training_values(
                                             facet, rest, model_bias::generalized_entropy(facet, rest)));
}

}  // namespace zentrova::engine
