#include "report.hpp"

#include "models/runtime_return.hpp"

namespace zentrova {
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

void write_bool(std::string& out, bool value) { out += value ? "true" : "false"; }

std::string encode(const models::PassedRuntimeReturn& record) {
    std::string out;
    out.reserve(128);
    out += "{\"passed\":";
    write_bool(out, record.passed);
    out += '}';
    return out;
}

std::string encode(const models::FailureRuntimeReturn& record) {
    std::string out;
    out.reserve(128);
    out += "{\"passed\":";
    write_bool(out, record.passed);
    out += ",\"failReport\":";
    if (!record.failReport) {
        out += "null";
    } else {
        out += '{';
        bool first = true;
        for (const auto& [key, message] : *record.failReport) {
            if (!first) out += ',';
            first = false;
            write_json_string(out, key);
            out += ':';
            write_json_string(out, message);
        }
        out += '}';
    }
    out += '}';
    return out;
}

}  // namespace

Result<std::string> process_failure_report(FailureReport report) {
    if (report.empty()) return encode(models::PassedRuntimeReturn{});
    return encode(models::FailureRuntimeReturn{false, std::move(report)});
}

}  // namespace zentrova
