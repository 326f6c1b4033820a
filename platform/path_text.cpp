#include "platform/path_text.h"

#include "platform/code_page.h"

namespace tovarek {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at `i` (1 to 4) and its code point; 0 when the bytes there
// are not valid UTF-8 (overlong forms, encoded surrogates and values past U+10FFFF included).
size_t DecodeOne(std::string_view s, size_t i, char32_t& cp) {
    unsigned char b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t left = s.size() - i;
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (left < 2 || !IsContinuation(at(1))) return 0;
        cp = (char32_t(b0 & 0x1F) << 6) | (at(1) & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left < 3 || !IsContinuation(at(1)) || !IsContinuation(at(2))) return 0;
        cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(at(1) & 0x3F) << 6) | (at(2) & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left < 4 || !IsContinuation(at(1)) || !IsContinuation(at(2)) ||
            !IsContinuation(at(3))) {
            return 0;
        }
        cp = (char32_t(b0 & 0x07) << 18) | (char32_t(at(1) & 0x3F) << 12) |
             (char32_t(at(2) & 0x3F) << 6) | (at(3) & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

void AppendUtf8(char32_t cp, std::string& out) {
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

}  // namespace

std::u16string PathToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        size_t n = DecodeOne(bytes, i, cp);
        if (n == 0) {
            out.push_back(
                static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return out;
}

std::string Utf16ToPath(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c - kEscapeBase));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back('?');
        } else {
            AppendUtf8(c, out);
        }
    }
    return out;
}

std::string Utf16ToAnsiPath(std::u16string_view text) {
    if (AnsiCodePage() == kCodePageUtf8) return Utf16ToPath(text);
    // Bytes a name held that were not UTF-8 go back as those bytes (in a GBK locale they are
    // usually the name's own GBK); the text between them goes through the code page.
    std::string out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool escaped = i < text.size() && text[i] >= 0xDC80 && text[i] <= 0xDCFF;
        if (!escaped && i < text.size()) continue;
        out += Utf16ToAnsi(text.substr(start, i - start));
        if (escaped) out.push_back(static_cast<char>(text[i] - kEscapeBase));
        start = i + 1;
    }
    return out;
}

}  // namespace tovarek
