// What the statistics keep about their labelled columns: the kind of column a
// label is compared with, and the label or threshold the caller gave.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "columns/dtype.hpp"
#include "metrics/labelling/label_input.hpp"

namespace zentrova::engine {

// How a labelled column compares its rows; fixed by the first batch.
enum class ColumnKind : std::uint8_t { Unset, Integer, Float, Text };

inline const char* kind_name(ColumnKind kind) noexcept {
    switch (kind) {
        case ColumnKind::Integer: return "integer";
        case ColumnKind::Float: return "float";
        case ColumnKind::Text: return "text";
        case ColumnKind::Unset: break;
    }
    return "none";
}

inline ColumnKind kind_of(const labelling::LabelInput& input) noexcept {
    switch (columns::family_of(input.view.kind)) {
        case columns::Family::Integer: return ColumnKind::Integer;
        case columns::Family::Float: return ColumnKind::Float;
        case columns::Family::Text: break;
    }
    return ColumnKind::Text;
}

// Rows of a labelled column: text read item by item sits in `rows`.
inline std::size_t input_size(const labelling::LabelInput& input) noexcept {
    return input.view.kind == columns::ElementKind::Other ? input.rows.size() : input.view.size;
}

// The label or threshold a caller gave, kept to tell two statistics apart and
// to write them out: a float, an int (its decimal text), a str (its UTF-8
// text, lone surrogates kept) or anything else.
struct LabelValue {
    enum class Tag : std::uint8_t { Float, Int, Text, Other };
    Tag tag = Tag::Other;
    double real = 0.0;
    std::string text;

    friend bool operator==(const LabelValue& a, const LabelValue& b) noexcept {
        if (a.tag != b.tag) return false;
        switch (a.tag) {
            case Tag::Float: return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
            case Tag::Int:
            case Tag::Text: return a.text == b.text;
            case Tag::Other: break;
        }
        return true;
    }
};

}  // namespace zentrova::engine
