// ValueText: the text forms of integer and register values, and their parsers.
#include "ValueText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qorcam::viewer {
namespace {

std::string RemoveAll(std::string_view text, std::string_view what, bool* removed = nullptr) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (!what.empty() && text.substr(i, what.size()) == what) {
            i += what.size();
            if (removed) *removed = true;
        } else {
            out += text[i++];
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Printf(const char* format, auto... args) {
    char buffer[96];
    int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

} // namespace

std::string FormatIntValue(int64_t value, bool isSigned) {
    const char* prefix = "0x";
    uint64_t u = static_cast<uint64_t>(value);
    if (isSigned) {
        if (value >= -2147483647LL && value <= 2147483646LL)
            return Printf("%lld", static_cast<long long>(value));
        if (value < -2147483647LL) {
            u = 0 - u; // also right for the most negative value
            prefix = "-0x";
        }
    }
    if (u < 0x7FFFFFFFULL) return Printf("%d", static_cast<int>(u));
    auto group = [u](int shift) { return static_cast<unsigned>((u >> shift) & 0xFFFF); };
    if (u >= (1ULL << 48))
        return Printf("%s %04x %04x %04x %04x", prefix, group(48), group(32), group(16), group(0));
    if (u >= (1ULL << 32)) return Printf("%s %04x %04x %04x", prefix, group(32), group(16), group(0));
    return Printf("%s %04x %04x", prefix, group(16), group(0));
}

int64_t ParseDecimalValue(std::string_view text, bool isSigned) {
    bool hex = false;
    std::string s = RemoveAll(RemoveAll(text, "0x", &hex), " ");
    const int base = hex ? 16 : 10;
    errno = 0;
    if (isSigned) return std::strtoll(s.c_str(), nullptr, base);
    return static_cast<int64_t>(std::strtoull(s.c_str(), nullptr, base));
}

uint64_t ParseHexValue(std::string_view text) {
    std::string s = RemoveAll(RemoveAll(text, "[HEX]"), " ");
    uint64_t result = 0;
    for (size_t i = 0; i < s.size() && i < 16; ++i) {
        int d = HexDigit(s[i]);
        if (d >= 0) result = (result << 4) | static_cast<uint64_t>(d);
    }
    return result;
}

int64_t ParseIPv4Value(std::string_view text) {
    std::string s = RemoveAll(RemoveAll(text, "[IPv4]"), " ");
    uint64_t result = 0; // wraps rather than overflows on absurd parts
    std::string_view rest = s;
    for (int step = 0; step < 4; ++step) {
        size_t dot = rest.find('.');
        std::string part(rest.substr(0, dot));
        uint64_t v = static_cast<uint64_t>(std::strtoll(part.c_str(), nullptr, 10));
        result = result * 256 + v;
        if (dot == std::string_view::npos) break;
        rest = rest.substr(dot + 1);
        if (rest.empty()) break;
    }
    return static_cast<int64_t>(result);
}

std::string FormatIPv4Value(int64_t value) {
    auto b = [value](int i) { return static_cast<int>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF); };
    return Printf("%s %d.%d.%d.%d", "[IPv4]", b(3), b(2), b(1), b(0));
}

std::string FormatFloatValue(double value) {
    char text[512]; // "%f" of the largest double takes 317 characters
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

std::string FormatHexValue(int64_t value) {
    auto g = [value](int i) {
        return static_cast<unsigned>((static_cast<uint64_t>(value) >> (16 * i)) & 0xFFFF);
    };
    return Printf("%s %04x %04x %04x %04x", "[HEX]", g(3), g(2), g(1), g(0));
}

std::string FormatRegisterBytes(const uint8_t* bytes, size_t length) {
    std::string out;
    if (!bytes) return out;
    out.reserve(length * 3);
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if (b >= 0x21 && b <= 0x7E && b != '\\') {
            out += static_cast<char>(b);
        } else {
            out += '\\';
            out += digits[b >> 4];
            out += digits[b & 0xF];
        }
    }
    return out;
}

size_t ParseRegisterBytes(uint8_t* bytes, size_t capacity, std::string_view text) {
    if (!bytes) return 0;
    size_t n = 0;
    size_t i = 0;
    while (i < text.size() && n < capacity) {
        if (text[i] != '\\') {
            bytes[n++] = static_cast<uint8_t>(text[i++]);
            continue;
        }
        if (i + 2 >= text.size()) break;
        // Two characters read as a hexadecimal number, stopping at a non-digit.
        int hi = HexDigit(text[i + 1]);
        int lo = HexDigit(text[i + 2]);
        int v = hi < 0 ? 0 : (lo < 0 ? hi : hi * 16 + lo);
        bytes[n++] = static_cast<uint8_t>(v);
        i += 3;
    }
    return n;
}

} // namespace qorcam::viewer
