#include "xml/xml_text.h"

#include "xml/entity_table.h"

namespace tovarek {
namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

int HexDigit(char16_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + ((cp >> 10) & 0x3FF));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

// Value of the reference name (lower-cased, without '&' and ';'), 0 when it names nothing.
uint32_t ReferenceValue(std::u16string_view name, bool capitalWritten) {
    if (name.empty() || name[0] != '#') return LookupEntity(name, capitalWritten);
    uint32_t value = 0;
    if (name.size() > 1 && name[1] == 'x') {
        for (size_t i = 2; i < name.size(); ++i) {
            int d = HexDigit(name[i]);
            if (d < 0) break;
            value = value * 16 + static_cast<uint32_t>(d);
        }
    } else {
        for (size_t i = 1; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
            value = value * 10 + static_cast<uint32_t>(name[i] - '0');
        }
    }
    // At most 8 digits fit the 9-unit name, so no overflow; beyond Unicode there is no
    // character to give.
    return value <= kMaxCodePoint ? value : 0;
}

bool IsNameStart(char16_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '#' || c == '_' || c == ':' ||
           c > 127;
}
bool IsNameChar(char16_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.' || c > 127;
}

// Length of the reference "&name;" starting at text[i], 0 when there is none.
size_t ReferenceLength(std::u16string_view text, size_t i) {
    size_t j = i + 1;
    if (j >= text.size() || !IsNameStart(text[j])) return 0;
    ++j;
    while (j < text.size() && IsNameChar(text[j])) ++j;
    if (j >= text.size() || text[j] != ';') return 0;
    return j + 1 - i;
}

}  // namespace

std::u16string DecodeEntities(const char16_t* text, long long length) {
    std::u16string out;
    if (!text) return out;
    size_t n = 0;
    if (length < 0) {
        while (text[n]) ++n;
    } else {
        n = static_cast<size_t>(length);
    }
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        // Copy the run up to the next '&' in one go.
        size_t run = i;
        while (run < n && text[run] != '&') ++run;
        out.append(text + i, run - i);
        i = run;
        if (i >= n) break;

        char16_t name[9];
        size_t k = 0;
        size_t j = i + 1;
        bool capital = false;
        bool closed = false;
        for (; j < n; ++j) {
            char16_t c = text[j];
            if (c == ';') {
                closed = true;
                break;
            }
            if (c > 127 || k == 9) break;
            if (c >= 'A' && c <= 'Z') {
                c += 32;
                capital = true;
            }
            name[k++] = c;
        }
        uint32_t value = closed ? ReferenceValue(std::u16string_view(name, k), capital) : 0;
        if (value == 0) {
            out += u'&';
            ++i;
            continue;
        }
        AppendCodePoint(out, value);
        i = j + 1;
    }
    return out;
}

std::u16string EscapeText(std::u16string_view text, uint32_t flags) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 10 + 7);
    bool attribute = (flags & kEscapeAttribute) != 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        switch (c) {
            case '<':
                out += u"&lt;";
                break;
            case '&':
                if (flags & kEscapeKeepReferences) {
                    size_t len = ReferenceLength(text, i);
                    if (len) {
                        out.append(text.substr(i, len));
                        i += len - 1;
                        break;
                    }
                }
                out += u"&amp;";
                break;
            case '>':
                out += u"&gt;";
                break;
            case '\'':
                out += attribute ? u"&apos;" : u"'";
                break;
            case '"':
                out += attribute ? u"&quot;" : u"\"";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::u16string MakeCdata(std::u16string_view text) {
    std::u16string out = u"<![CDATA[";
    out.reserve(text.size() + 12);
    size_t p = 0;
    for (;;) {
        size_t q = text.find(u"]]>", p);
        if (q == std::u16string_view::npos) break;
        out.append(text.substr(p, q - p));
        out += u"]]]]><![CDATA[>";
        p = q + 3;
    }
    out.append(text.substr(p));
    out += u"]]>";
    return out;
}

}  // namespace tovarek
