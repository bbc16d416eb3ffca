// The byte encoding of statistics: little-endian fields behind a magic, a
// version and a family tag, closed by a 64-bit FNV-1a checksum of everything
// before it. Reading is bounds-checked throughout and never trusts a length.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zentrova::engine {

inline constexpr std::string_view encoding_magic = "ZNST";
inline constexpr std::uint8_t encoding_version = 1;

inline std::uint64_t fnv1a(std::string_view bytes) noexcept {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

class Writer {
public:
    Writer() = default;  // a bare body, framed by its owner
    explicit Writer(std::uint8_t family) {
        out_.append(encoding_magic);
        u8(encoding_version);
        u8(family);
    }
    void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u64(bits);
    }
    void f32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void text(std::string_view v) {
        u32(static_cast<std::uint32_t>(v.size()));
        out_.append(v);
    }
    std::string& raw() noexcept { return out_; }
    std::string finish() {
        u64(fnv1a(out_));
        return std::move(out_);
    }

private:
    std::string out_;
};

// Every read reports false once the input runs short; the caller stops there.
class Reader {
public:
    // Checks the frame (magic, version, family, checksum) and leaves the body.
    static bool open(std::string_view bytes, std::uint8_t family, Reader& reader) noexcept {
        constexpr std::size_t head = 4 + 1 + 1, tail = 8;
        if (bytes.size() < head + tail || bytes.substr(0, 4) != encoding_magic) return false;
        const std::string_view covered = bytes.substr(0, bytes.size() - tail);
        Reader check(bytes.substr(bytes.size() - tail));
        std::uint64_t sum = 0;
        if (!check.u64(sum) || sum != fnv1a(covered)) return false;
        if (static_cast<std::uint8_t>(bytes[4]) != encoding_version) return false;
        if (static_cast<std::uint8_t>(bytes[5]) != family) return false;
        reader = Reader(covered.substr(head));
        return true;
    }

    Reader() = default;
    explicit Reader(std::string_view in) : in_(in) {}

    bool u8(std::uint8_t& v) noexcept {
        if (in_.empty()) return false;
        v = static_cast<std::uint8_t>(in_[0]);
        in_.remove_prefix(1);
        return true;
    }
    bool u32(std::uint32_t& v) noexcept {
        if (in_.size() < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<std::uint8_t>(in_[i])} << (8 * i);
        in_.remove_prefix(4);
        return true;
    }
    bool u64(std::uint64_t& v) noexcept {
        if (in_.size() < 8) return false;
        v = 0;
        for (int i = 0; i < 8; ++i) v |= std::uint64_t{static_cast<std::uint8_t>(in_[i])} << (8 * i);
        in_.remove_prefix(8);
        return true;
    }
    bool f64(double& v) noexcept {
        std::uint64_t bits;
        if (!u64(bits)) return false;
        std::memcpy(&v, &bits, sizeof v);
        return true;
    }
    bool f32(float& v) noexcept {
        std::uint32_t bits;
        if (!u32(bits)) return false;
        std::memcpy(&v, &bits, sizeof v);
        return true;
    }
    bool text(std::string& v) {
        std::uint32_t size;
        if (!u32(size) || in_.size() < size) return false;
        v.assign(in_.substr(0, size));
        in_.remove_prefix(size);
        return true;
    }
    std::string_view& rest() noexcept { return in_; }
    bool done() const noexcept { return in_.empty(); }

private:
    std::string_view in_;
};

}  // namespace zentrova::engine
