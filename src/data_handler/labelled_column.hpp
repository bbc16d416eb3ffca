// A column of 0/1 labels, one per input row. It either holds its labels or,
// for an array read straight from memory, keeps the rule that gives them and
// applies it block by block, so a column is never copied whole.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zentrova::data_handler {

// Allocates without zero-filling: every label is written once anyway.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

using LabelValues = std::vector<std::int16_t, UninitialisedAllocator<std::int16_t>>;

// Labels of values in memory that the caller keeps alive and unchanged.
struct LabelRule {
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
    std::int64_t integer_label = 0;
    double float_label = 0.0;
    std::size_t width = 0;                // code points per row of a text column
    std::vector<std::uint32_t> pattern;   // a matching text row, padded with NULs
    void (*fill)(const LabelRule& rule, std::size_t start, std::size_t count, std::int16_t* out) = nullptr;
};

class LabelledColumn {
public:
    LabelledColumn() = default;
    explicit LabelledColumn(LabelValues values) : values_(std::move(values)) {}
    explicit LabelledColumn(const LabelRule& rule) : rule_(rule) {}

    std::size_t size() const noexcept { return rule_ ? rule_->size : values_.size(); }

    // The labels of rows [start, start + count): a pointer into the column, or
    // `scratch` filled with them.
    const std::int16_t* block(std::size_t start, std::size_t count, std::int16_t* scratch) const {
        if (!rule_) return values_.data() + start;
        rule_->fill(*rule_, start, count, scratch);
        return scratch;
    }

private:
    LabelValues values_;
    std::optional<LabelRule> rule_;
};

inline constexpr std::size_t label_block_rows = 2048;

// Calls body(start, count, labels...) over consecutive blocks of rows [0, rows),
// with one pointer to `count` labels per column.
template <class Body, class... Columns>
void for_each_block(std::size_t rows, Body&& body, const Columns&... columns) {
    constexpr std::size_t column_count = sizeof...(Columns);
    std::int16_t scratch[column_count][label_block_rows];
    for (std::size_t start = 0; start < rows; start += label_block_rows) {
        const std::size_t count = std::min(label_block_rows, rows - start);
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            body(start, count, columns.block(start, count, scratch[I])...);
        }(std::make_index_sequence<column_count>{});
    }
}

// The labels of a deferred column, computed now.
inline LabelledColumn materialise(const LabelledColumn& column) {
    LabelValues labels(column.size());
    for_each_block(column.size(), [&](std::size_t start, std::size_t count, const std::int16_t* block) {
        std::copy(block, block + count, labels.data() + start);
    }, column);
    return LabelledColumn(std::move(labels));
}

}  // namespace zentrova::data_handler
