// A column read a block of rows at a time. It either holds its values or keeps
// a source that produces them from memory the caller keeps alive and unchanged
// (a NumPy array's own buffer), so the whole column is never copied.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "columns/interrupt.hpp"

namespace zentrova::columns {

// Allocates without zero-filling: every value is written once anyway.
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

template <class T>
using Values = std::vector<T, UninitialisedAllocator<T>>;

inline constexpr std::size_t block_rows = 2048;

// Source: a record with `size` and `fill(const Source&, start, count, T* out)`.
template <class T, class Source>
class BlockColumn {
public:
    using value_type = T;

    BlockColumn() = default;
    explicit BlockColumn(Values<T> values) : values_(std::move(values)) {}
    explicit BlockColumn(Source source) : source_(std::move(source)) {}

    std::size_t size() const noexcept { return source_ ? source_->size : values_.size(); }

    // The values of rows [start, start + count): a pointer into the column, or
    // `scratch` filled with them.
    const T* block(std::size_t start, std::size_t count, T* scratch) const {
        if (!source_) return values_.data() + start;
        source_->fill(*source_, start, count, scratch);
        return scratch;
    }

private:
    Values<T> values_;
    std::optional<Source> source_;
};

// Calls body(start, count, values...) over consecutive blocks of rows [0, rows),
// with one pointer to `count` values per column; looks for an interrupt now
// and then.
template <class Body, class... Columns>
void for_each_block(std::size_t rows, Body&& body, const Columns&... columns) {
    std::tuple<std::array<typename Columns::value_type, block_rows>...> scratch;
    InterruptPoller poller;
    for (std::size_t start = 0; start < rows; start += block_rows) {
        const std::size_t count = std::min(block_rows, rows - start);
        poller.advance(count);
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            body(start, count, columns.block(start, count, std::get<I>(scratch).data())...);
        }(std::index_sequence_for<Columns...>{});
    }
}

}  // namespace zentrova::columns
