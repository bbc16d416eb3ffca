#include "drift/report.hpp"

namespace zentrova::drift {
namespace {

void write_json_string(std::string& out, const std::string& text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[byte >> 4]);
                    out.push_back(hex[byte & 0xF]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

}  // namespace

std::string encode_report(const FailureReport& report) {
    std::string out;
    out.reserve(128);
    if (report.empty()) return out += "{\"passed\":true}";
    out += "{\"passed\":false,\"failReport\":{";
    bool first = true;
    for (const auto& [key, message] : report) {
        if (!first) out += ',';
        first = false;
        write_json_string(out, key);
        out += ':';
        write_json_string(out, message);
    }
    out += "}}";
    return out;
}

}  // namespace zentrova::drift
