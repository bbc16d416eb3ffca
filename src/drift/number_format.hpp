// The number format of drift check messages.
#pragma once

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace zentrova::drift {

// The shortest decimal text that reads back as the same float, written out
// positionally with no exponent (1e30 is a 1 and thirty zeros), 2 for 2.0,
// "-0", "NaN", "inf", "-inf".
inline std::string format_f32(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // The shortest digits come in scientific form: [-]d[.ddd]e±XX.
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    (void)ec;  // 32 bytes hold every float in this form
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e = text.find('e');
    std::string digits;
    std::size_t start = 0;
    std::string out;
    if (text[0] == '-') {
        out.push_back('-');
        start = 1;
    }
    for (std::size_t i = start; i < e; ++i)
        if (text[i] != '.') digits.push_back(text[i]);
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
    // value = 0.digits × 10^(exponent + 1): the first `point` digits stand before the point.
    const int point = exponent + 1;
    const int count = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point), std::string::npos);
    }
    return out;
}

}  // namespace zentrova::drift
