// What the statistics read: plain column views handed over by the caller, and
// the label a labelled column is compared with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

namespace zentrova::engine {

// The element type of a numeric column in memory.
enum class Element : std::uint8_t { Int16, Int32, Int64, Float32, Float64 };

// Values of one element type with a byte stride (negative strides allowed).
struct NumericColumn {
    Element element = Element::Float64;
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
};

// Fixed-width text rows: `width` 32-bit code points each, padded with NULs.
struct TextColumn {
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
    std::size_t width = 0;
};

// Text rows the caller already compared with the label (1 = equal).
struct MatchedColumn {
    const std::uint8_t* matches = nullptr;
    std::size_t size = 0;
};

using LabelInput = std::variant<NumericColumn, TextColumn, MatchedColumn>;

inline std::size_t input_size(const LabelInput& input) noexcept {
    return std::visit([](const auto& column) { return column.size; }, input);
}

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

inline bool is_integer_element(Element element) noexcept {
    return element == Element::Int16 || element == Element::Int32 || element == Element::Int64;
}

inline ColumnKind kind_of(const LabelInput& input) noexcept {
    if (const auto* numeric = std::get_if<NumericColumn>(&input))
        return is_integer_element(numeric->element) ? ColumnKind::Integer : ColumnKind::Float;
    return ColumnKind::Text;
}

// The label converted for the column's kind: a signed 64-bit value for an
// integer column, a double for a float column, code points for text rows in
// memory (`matchable` false when no row can equal it).
struct ColumnLabel {
    std::int64_t integer = 0;
    double real = 0.0;
    std::vector<std::uint32_t> code_points;
    bool matchable = true;
};

// The label or threshold a caller gave, kept to tell two statistics apart and
// to write them out: a float, an int (its decimal text), a str (its UTF-8
// text) or anything else.
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
