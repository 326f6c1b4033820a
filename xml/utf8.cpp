#include "xml/utf8.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/code_page.h"
#include "platform/utf8_sequence.h"
#include "xml/code_page_names.h"

namespace tovarek {
namespace {

// Code pages whose characters take more than one byte, so a piece may end inside one.
constexpr int kMultiByteCodePages[] = {
    874,   932,   936,   949,   950,   1361,  10001, 10002, 10003, 10008, 10021, 20000,
    20001, 20002, 20003, 20004, 20833, 20932, 20936, 20949, 50220, 50221, 50222, 50225,
    50227, 50930, 50931, 50933, 50935, 50937, 50939, 51932, 51936, 51949, 52936, 54936,
};

bool IsMultiByteCodePage(int cp) {
    return std::find(std::begin(kMultiByteCodePages), std::end(kMultiByteCodePages), cp) !=
           std::end(kMultiByteCodePages);
}

std::u16string Convert(int codePage, const char* bytes, size_t length) {
    std::u16string out;
    CodePageToUtf16(codePage, std::string_view(bytes, length), out);
    return out;
}

bool EndsWith(const std::u16string& whole, const std::u16string& tail) {
    return whole.size() >= tail.size() &&
           whole.compare(whole.size() - tail.size(), tail.size(), tail) == 0;
}

// A tail that converts to the same units alone as at the end of the whole piece is aligned with
// the piece's characters; inside such a tail, a split whose halves convert to the same units as
// the tail at once lies between two characters.
bool MultiByteCarry(int cp, const char* buffer, size_t length, size_t& carry) {
    const std::u16string whole = Convert(cp, buffer, length);
    int aligned = 0;
    for (size_t t = 1; t <= 40 && t <= length; ++t) {
        const char* tail = buffer + length - t;
        const std::u16string tailText = Convert(cp, tail, t);
        if (!EndsWith(whole, tailText)) continue;
        if (++aligned < 3) continue;
        for (size_t split = t - 1; split >= 1; --split) {
            std::u16string parts = Convert(cp, tail, split);
            parts += Convert(cp, tail + split, t - split);
            if (parts == tailText) {
                carry = t - split;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int32_t Utf8Decode(const char*& pos, const char* end) {
    const char* start = pos;
    uint8_t lead = static_cast<uint8_t>(*pos++);
    if (lead < 0x80) return lead;
    int more;
    int32_t value;
    if (!(lead & 0x20)) {
        more = 1;
        value = lead & 0x1F;
    } else if (!(lead & 0x10)) {
        more = 2;
        value = lead & 0x0F;
    } else if (!(lead & 0x08)) {
        more = 3;
        value = lead & 0x07;
    } else {
        return -1;
    }
    for (int i = 0; i < more; ++i) {
        if (pos == end || !(static_cast<uint8_t>(*pos) & 0x80)) {
            pos = start + 1;
            return -1;
        }
        value = (value << 6) | (static_cast<uint8_t>(*pos++) & 0x3F);
    }
    return value;
}

void Utf8Encode(uint32_t codePoint, char* buffer, size_t& pos) {
    auto put = [&](uint32_t byte) {
        if (buffer) buffer[pos] = static_cast<char>(byte);
        ++pos;
    };
    if (codePoint < 0x80) {
        put(codePoint);
    } else if (codePoint < 0x800) {
        put(0xC0 | (codePoint >> 6));
        put(0x80 | (codePoint & 0x3F));
    } else if (codePoint <= 0xFFFF) {
        put(0xE0 | (codePoint >> 12));
        put(0x80 | ((codePoint >> 6) & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    } else {
        put(0xF0 | ((codePoint >> 18) & 0x07));
        put(0x80 | ((codePoint >> 12) & 0x3F));
        put(0x80 | ((codePoint >> 6) & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    }
}

bool IsUtf8Bytes(const char* buffer, size_t length, int* multiByteCount, bool* cutOff) {
    const auto* p = reinterpret_cast<const uint8_t*>(buffer);
    int count = 0;
    if (cutOff) *cutOff = false;
    size_t i = 0;
    while (i < length && p[i] != 0) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        uint8_t low, high;
        const int n = static_cast<int>(Utf8SequenceLength(p[i], low, high));
        bool ok = n > 0;
        int k = 1;
        for (; ok && k < n; ++k) {
            if (i + k >= length) {
                if (cutOff) *cutOff = true;
                ok = false;
                break;
            }
            uint8_t c = p[i + k];
            uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
            if (c < lo || c > hi) ok = false;
        }
        if (!ok) {
            if (multiByteCount) *multiByteCount = count;
            return false;
        }
        ++count;
        i += static_cast<size_t>(n);
    }
    if (multiByteCount) *multiByteCount = count;
    return true;
}

bool CarryLength(const char* buffer, size_t length, std::u16string_view encodingName,
                 size_t& carry) {
    carry = 0;
    if (length == 0) return true;
    const int cp = ResolveCodePage(encodingName);
    const auto* p = reinterpret_cast<const uint8_t*>(buffer);
    if (cp == kCodePageUtf16Le || cp == kCodePageUtf16Be) {
        carry = length % 2;
        size_t even = length - carry;
        if (even >= 2) {
            unsigned unit = cp == kCodePageUtf16Le ? p[even - 2] | (p[even - 1] << 8)
                                                   : (p[even - 2] << 8) | p[even - 1];
            // Only a high surrogate waits for its partner; a low one completes a pair.
            if (unit >= 0xD800 && unit <= 0xDBFF) carry += 2;
        }
        return true;
    }
    if (cp == kCodePageUtf32 || cp == 12000 || cp == 12001) {
        carry = length % 4;
        return true;
    }
    if (cp == kCodePageUtf8) {
        // A lead byte among the last three bytes whose sequence would run past the end.
        for (size_t back = 1; back <= 3 && back <= length; ++back) {
            uint8_t c = p[length - back];
            if ((c & 0xC0) == 0x80) continue;
            uint8_t low, high;
            const int n = static_cast<int>(Utf8SequenceLength(c, low, high));
            if (n > static_cast<int>(back)) carry = back;
            break;
        }
        return true;
    }
    if (IsMultiByteCodePage(cp)) return MultiByteCarry(cp, buffer, length, carry);
    return true;
}

}  // namespace tovarek
