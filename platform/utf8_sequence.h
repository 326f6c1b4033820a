// Well-formed UTF-8 one sequence at a time (RFC 3629: no overlong forms, no encoded surrogates,
// nothing past U+10FFFF), for the converters that decide themselves what to do with the rest.
// Inline because the list decoder calls it per character. Pure and thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace tovarek {

// The length (1 to 4) of the well-formed sequence that `lead` starts, 0 when none does, and the
// range its second byte must lie in (RFC 3629, section 4: the bounds exclude over-long forms,
// surrogates and code points past U+10FFFF; the other trail bytes take 0x80-0xBF).
inline size_t Utf8SequenceLength(unsigned char lead, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) {
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
        return 3;
    }
    if (lead < 0xF5) {
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
        return 4;
    }
    return 0;
}

// The sequence at `p`, of which `n` bytes are there: its length (1 to 4) with its code point in
// *cp, or 0 when the bytes there are not one (ill-formed, or cut by the end).
inline size_t DecodeUtf8Sequence(const unsigned char* p, size_t n, char32_t* cp) {
    unsigned char low, high;
    const size_t length = Utf8SequenceLength(p[0], low, high);
    if (length == 0 || length > n) return 0;
    if (length == 1) {
        *cp = p[0];
        return 1;
    }
    if (p[1] < low || p[1] > high) return 0;
    char32_t value = p[0] & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if (k > 1 && (p[k] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (p[k] & 0x3F);
    }
    *cp = value;
    return length;
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
