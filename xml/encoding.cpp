#include "xml/encoding.h"

#include <cstring>
#include <optional>
#include <vector>

#include "platform/code_page.h"
#include "xml/code_page_names.h"
#include "xml/node_scanner.h"
#include "xml/utf8.h"
#include "xml/xml_text.h"

namespace tovarek {
namespace {

bool Served(int cp) {
    return cp == kCodePageUtf32 || cp == kCodePageUtf16Le || IconvNameOfCodePage(cp) != nullptr;
}

template <typename Unit>
int64_t Deliver(const std::basic_string<Unit>& out, void* target, size_t capacity) {
    if (target) {
        if (capacity < out.size()) return -1;
        memcpy(target, out.data(), out.size() * sizeof(Unit));
    }
    return static_cast<int64_t>(out.size());
}

std::u16string Utf32ToUtf16(const uint32_t* in, size_t n, bool* lost) {
    std::u16string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = in[i];
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(u'?');
            if (lost) *lost = true;
        } else if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

// Only a high surrogate followed by a low one makes a pair: anything else would swallow the next
// character. Unpaired surrogates become '?'.
std::basic_string<uint32_t> Utf16ToUtf32(const char16_t* in, size_t n, bool* lost) {
    std::basic_string<uint32_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char16_t c = in[i];
        if (c < 0xD800 || c > 0xDFFF) {
            out.push_back(c);
        } else if (c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((c - 0xD800u) << 10) + (in[i + 1] - 0xDC00u));
            ++i;
        } else {
            out.push_back(u'?');
            if (lost) *lost = true;
        }
    }
    return out;
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c;
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// The value of attribute `name` in the tag `tag` (from just after "<" or "<?" to its end), read
// token by token as element attributes are read: quoted strings are one token, '=' is its own,
// an unquoted value after '=' ends only at white space or '>'. Absent: nullopt.
std::optional<std::u16string> TagAttribute(std::u16string_view tag, std::u16string_view name) {
    size_t i = 0;
    bool first = true;
    bool afterEquals = false;
    bool matched = false;        // the last name token was `name`
    bool matchedEquals = false;  // ... and its '=' was seen
    std::u16string_view matchedName;
    while (i < tag.size()) {
        char16_t c = tag[i];
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        std::u16string_view token;
        bool quoted = false;
        if (c == u'"' || c == u'\'') {
            size_t close = tag.find(c, i + 1);
            size_t end = close == std::u16string_view::npos ? tag.size() : close;
            token = tag.substr(i + 1, end - i - 1);
            i = close == std::u16string_view::npos ? tag.size() : close + 1;
            quoted = true;
        } else if (c == u'=') {
            token = tag.substr(i, 1);
            ++i;
        } else {
            if (c == u'/' || c == u'>' || c == u'?') break;
            size_t start = i;
            while (i < tag.size()) {
                char16_t d = tag[i];
                if (IsBlank(d) || d == u'>') break;
                if (!afterEquals && (d == u'=' || d == u'/' || d == u'?')) break;
                ++i;
            }
            token = tag.substr(start, i - start);
        }
        if (first) {
            first = false;
            continue;
        }
        if (!quoted && token == u"=") {
            afterEquals = true;
            if (matched) matchedEquals = true;
            continue;
        }
        if (afterEquals) {
            afterEquals = false;
            if (matchedEquals) return DecodeEntities(token);
            matched = false;
            continue;
        }
        // A bare attribute (no '=') reads as its own name.
        if (matched) return DecodeEntities(matchedName);
        matched = !quoted && SameIgnoringCase(token, name);
        if (matched) matchedName = token;
        matchedEquals = false;
    }
    if (matched && !matchedEquals) return DecodeEntities(matchedName);
    return std::nullopt;
}

// "text/html; charset=gb2312" -> "gb2312".
std::u16string CharsetOfContent(std::u16string_view content) {
    static constexpr std::u16string_view kWord = u"charset";
    for (size_t i = 0; i + kWord.size() <= content.size(); ++i) {
        if (!SameIgnoringCase(content.substr(i, kWord.size()), kWord)) continue;
        size_t j = i + kWord.size();
        while (j < content.size() && IsBlank(content[j])) ++j;
        if (j >= content.size() || content[j] != u'=') continue;
        ++j;
        while (j < content.size() && IsBlank(content[j])) ++j;
        size_t start = j;
        static constexpr std::u16string_view kStops = u"<>=\\/?!\"';";
        while (j < content.size() && !IsBlank(content[j]) &&
               kStops.find(content[j]) == std::u16string_view::npos) {
            ++j;
        }
        return std::u16string(content.substr(start, j - start));
    }
    return {};
}

}  // namespace

std::u16string FindDeclaredEncoding(std::u16string_view text) {
    if (text.size() > 0x7FFFFFFF) text = text.substr(0, 0x7FFFFFFF);
    NodeScanner scanner;
    scanner.pText = text.data();
    scanner.nTextLength = static_cast<int32_t>(text.size());
    ScannedNode node;
    bool inHtml = false;
    for (;;) {
        int kind = ScanNode(scanner, node);
        if (kind == kNodeEnd || kind == kNodeError) return {};
        std::u16string_view name = text.substr(static_cast<size_t>(node.nNameStart),
                                               static_cast<size_t>(node.nNameLength));
        std::u16string_view whole =
            text.substr(static_cast<size_t>(node.nStart), static_cast<size_t>(node.nLength));
        if (kind == kNodeProcessingInstruction) {
            if (node.nStart != 0 || !SameIgnoringCase(name, u"xml")) continue;
            std::optional<std::u16string> value = TagAttribute(whole.substr(2), u"encoding");
            return value ? *value : std::u16string();
        }
        if (kind == kNodeEndTag) {
            if (SameIgnoringCase(name, u"head")) return {};
            continue;
        }
        if (kind != kNodeStartTag) continue;
        if (!inHtml) {
            if (!SameIgnoringCase(name, u"html")) return {};
            inHtml = true;
            continue;
        }
        if (!SameIgnoringCase(name, u"meta")) continue;
        std::optional<std::u16string> equiv = TagAttribute(whole.substr(1), u"http-equiv");
        std::optional<std::u16string> content = TagAttribute(whole.substr(1), u"content");
        if (!equiv || !content || !SameIgnoringCase(*equiv, u"Content-Type")) continue;
        return CharsetOfContent(*content);
    }
}

bool IsEncodingSupported(std::u16string_view name) {
    return Served(ResolveCodePage(name));
}

int64_t ConvertEncoding(std::u16string_view targetName, std::u16string_view sourceName,
                        const void* source, size_t sourceLength, void* target, size_t capacity,
                        bool* lost) {
    const int to = ResolveCodePage(targetName);
    const int from = ResolveCodePage(sourceName);
    if (!Served(to) || !Served(from)) return 0;
    bool lossSeen = false;
    int64_t result = 0;
    if (from == kCodePageUtf32) {
        const auto* in = static_cast<const uint32_t*>(source);
        std::u16string wide = Utf32ToUtf16(in, sourceLength, &lossSeen);
        if (to == kCodePageUtf8) {
            std::string out;
            size_t pos = 0;
            for (size_t i = 0; i < sourceLength; ++i) Utf8Encode(in[i], nullptr, pos);
            // Code points with no UTF-8 form go through UTF-16 first, which turned them to '?'.
            if (lossSeen) {
                Utf16ToCodePage(kCodePageUtf8, wide, out);
            } else {
                out.resize(pos);
                pos = 0;
                for (size_t i = 0; i < sourceLength; ++i) Utf8Encode(in[i], out.data(), pos);
            }
            result = Deliver(out, target, capacity);
        } else if (to == kCodePageUtf16Le) {
            result = Deliver(wide, target, capacity);
        } else if (to == kCodePageUtf32) {
            result = Deliver(std::basic_string<uint32_t>(in, sourceLength), target, capacity);
        } else {
            std::string out;
            Utf16ToCodePage(to, wide, out, &lossSeen);
            result = Deliver(out, target, capacity);
        }
    } else if (to == kCodePageUtf32) {
        std::u16string wide;
        if (from == kCodePageUtf16Le) {
            wide.assign(static_cast<const char16_t*>(source), sourceLength);
        } else if (from == kCodePageUtf8) {
            // The lenient decoder reads what it can; what it cannot becomes '?'.
            std::basic_string<uint32_t> out;
            const char* p = static_cast<const char*>(source);
            const char* end = p + sourceLength;
            while (p < end) {
                int32_t c = Utf8Decode(p, end);
                if (c < 0) {
                    c = '?';
                    lossSeen = true;
                }
                out.push_back(static_cast<uint32_t>(c));
            }
            if (lost && lossSeen) *lost = true;
            return Deliver(out, target, capacity);
        } else {
            CodePageToUtf16(from, std::string_view(static_cast<const char*>(source), sourceLength),
                            wide, &lossSeen);
        }
        result = Deliver(Utf16ToUtf32(wide.data(), wide.size(), &lossSeen), target, capacity);
    } else if (from == kCodePageUtf16Le) {
        const auto* in = static_cast<const char16_t*>(source);
        if (to == kCodePageUtf16Le) {
            result = Deliver(std::u16string(in, sourceLength), target, capacity);
        } else {
            std::string out;
            Utf16ToCodePage(to, std::u16string_view(in, sourceLength), out, &lossSeen);
            result = Deliver(out, target, capacity);
        }
    } else {
        std::u16string wide;
        CodePageToUtf16(from, std::string_view(static_cast<const char*>(source), sourceLength),
                        wide, &lossSeen);
        if (to == kCodePageUtf16Le) {
            result = Deliver(wide, target, capacity);
        } else {
            std::string out;
            Utf16ToCodePage(to, wide, out, &lossSeen);
            result = Deliver(out, target, capacity);
        }
    }
    if (lost && lossSeen) *lost = true;
    return result;
}

}  // namespace tovarek
