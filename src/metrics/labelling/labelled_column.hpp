// A column of 0/1 labels, one per input row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "columns/block_column.hpp"

namespace zentrova::labelling {

using columns::Values;
using LabelValues = Values<std::int16_t>;

// Labels of values in memory that the caller keeps alive and unchanged.
struct LabelRule {
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
    std::int64_t integer_label = 0;
    double float_label = 0.0;
    std::size_t width = 0;                // code points per row of a text column
    std::vector<std::uint32_t> pattern;   // a matching text row, padded with NULs
    // Writes the labels of rows [start, start + count) to out.
    void (*fill)(const LabelRule& rule, std::size_t start, std::size_t count, std::int16_t* out) = nullptr;
};

// Labels either held or produced, for an array read straight from memory, by
// the rule that gives them.
using LabelledColumn = columns::BlockColumn<std::int16_t, LabelRule>;
using columns::for_each_block;

}  // namespace zentrova::labelling
