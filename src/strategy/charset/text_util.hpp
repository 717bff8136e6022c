// Small text helpers of the character and text strategies' messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace strategy::charset {

// The two complaints about the elements of an alphabet; each ends with the
// offending elements' reprs and "]".
inline constexpr std::string_view NOT_UNICODE = "The following elements in alphabet are not unicode strings: [";
inline constexpr std::string_view NOT_LENGTH_ONE =
    "The following elements in alphabet are not of length one, which leads to violating the size contract: [";

// 'text', unescaped.
inline std::string single_quoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '\'';
    out += s;
    out += '\'';
    return out;
}

inline std::string join(const std::vector<std::string>& items, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += sep;
        out += items[i];
    }
    return out;
}

// Characters (code points) of UTF-8 text.
inline size_t char_count(std::string_view utf8) {
    size_t n = 0;
    for (char ch : utf8) n += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    return n;
}

}  // namespace strategy::charset
