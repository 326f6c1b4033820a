#include "platform/path_text.h"

#include "platform/code_page.h"
#include "platform/utf8_sequence.h"

namespace tovarek {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

}  // namespace

std::u16string PathToUtf16(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        size_t n = DecodeUtf8Sequence(p + i, bytes.size() - i, &cp);
        if (n == 0) {
            out.push_back(static_cast<char16_t>(kEscapeBase + p[i]));
            ++i;
            continue;
        }
        char16_t units[2];
        out.append(units, PutUtf16(cp, units));
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
