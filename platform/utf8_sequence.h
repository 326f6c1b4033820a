// Well-formed UTF-8 one sequence at a time (RFC 3629: no overlong forms, no encoded surrogates,
// nothing past U+10FFFF), for the converters that decide themselves what to do with the rest.
// Inline because the list decoder calls it per character. Pure and thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace tovarek {

// The sequence at `p`, of which `n` bytes are there: its length (1 to 4) with its code point in
// *cp, or 0 when the bytes there are not one (ill-formed, or cut by the end).
inline size_t DecodeUtf8Sequence(const unsigned char* p, size_t n, char32_t* cp) {
    auto trail = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    const unsigned char c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        if (n < 2 || !trail(p[1])) return 0;
        *cp = (char32_t(c & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 3 || !trail(p[1]) || !trail(p[2])) return 0;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F)) return 0;
        *cp = (char32_t(c & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (n < 4 || !trail(p[1]) || !trail(p[2]) || !trail(p[3])) return 0;
        if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F)) return 0;
        *cp = (char32_t(c & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
              (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        return 4;
    }
    return 0;
}

// Appends the UTF-16 units of code point `cp` (a surrogate pair past U+FFFF); returns how many.
inline size_t PutUtf16(char32_t cp, char16_t* out) {
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

// Appends the UTF-8 bytes of code point `cp`.
inline void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace tovarek
