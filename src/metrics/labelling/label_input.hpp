// A column ready to be labelled 1 or 0, and its label, in plain C++: numbers
// or fixed-width text rows in memory, or text rows read item by item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "columns/dtype.hpp"

namespace zentrova::labelling {

// A text label; `usable` is false when it has no UTF-8 form, and then it
// matches nothing.
struct TextLabel {
    bool usable = false;
    std::string utf8;
    std::vector<std::uint32_t> code_points;
};

// Text rows read item by item, as UTF-8, one after another.
struct TextRows {
    std::string bytes;
    std::vector<std::size_t> ends;

    void push_back(std::string_view row) {
        bytes.append(row);
        ends.push_back(bytes.size());
    }
    std::size_t size() const noexcept { return ends.size(); }
    std::string_view operator[](std::size_t i) const noexcept {
        const std::size_t start = i == 0 ? 0 : ends[i - 1];
        return std::string_view(bytes).substr(start, ends[i] - start);
    }
};

struct LabelInput {
    // Numbers, or fixed-width text rows (kind Unicode); kind Other means `rows`.
    columns::ColumnView view;
    TextRows rows;
    // Memory behind `view` when the column was read item by item or copied.
    std::vector<std::int64_t> integers;
    std::vector<double> reals;
    std::vector<char> bytes;

    std::int64_t integer_label = 0;  // for integer columns
    double float_label = 0.0;        // for float columns
    TextLabel text_label;            // for text columns
    // Fixed-width text rows in memory whose code points were not checked yet:
    // the labelling pass checks them while it reads them.
    bool code_points_unchecked = false;

    // Rows [start, start + count) of a column in memory (not `rows`), sharing
    // this input's memory, which must outlive the part.
    LabelInput part(std::size_t start, std::size_t count) const {
        LabelInput out;
        out.view = columns::rows_of(view, start, count);
        out.integer_label = integer_label;
        out.float_label = float_label;
        out.text_label = text_label;
        out.code_points_unchecked = code_points_unchecked;
        return out;
    }
};

}  // namespace zentrova::labelling
