#include "platform/name_escape.h"

#include "platform/utf8_sequence.h"

namespace tovarek {
namespace {

// The escape of `cp` by `rule`, written to `out` (ASCII); false when it stands as itself.
bool EscapeOf(char32_t cp, EscapeRule rule, char out[8]) {
    const char* letter = nullptr;
    switch (cp) {
        case U'\\':
            letter = "\\\\";
            break;
        case U'\n':
            letter = "\\n";
            break;
        case U'\r':
            letter = "\\r";
            break;
        case U'\t':
            letter = "\\t";
            break;
        default:
            break;
    }
    if (letter) {
        out[0] = letter[0];
        out[1] = letter[1];
        out[2] = 0;
        return true;
    }
    if (rule != EscapeRule::kDisplay) return false;
    static const char kHex[] = "0123456789abcdef";
    if (cp < 0x20 || cp == 0x7F) {
        out[0] = '\\';
        out[1] = 'x';
        out[2] = kHex[cp >> 4];
        out[3] = kHex[cp & 0xF];
        out[4] = 0;
        return true;
    }
    const bool c1 = cp >= 0x80 && cp <= 0x9F;
    const bool separator = cp == 0x2028 || cp == 0x2029;
    const bool bidi = (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
    if (!c1 && !separator && !bidi) return false;
    out[0] = '\\';
    out[1] = 'u';
    for (int i = 0; i < 4; ++i) out[2 + i] = kHex[(cp >> (12 - 4 * i)) & 0xF];
    out[6] = 0;
    return true;
}

}  // namespace

std::string EscapeName(std::string_view bytes, EscapeRule rule) {
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp = 0;
        size_t n = DecodeUtf8Sequence(p + i, bytes.size() - i, &cp);
        char escape[8];
        if (n > 0 && EscapeOf(cp, rule, escape)) {
            out += escape;
        } else {
            if (n == 0) n = 1;  // a byte that starts no sequence stays as it is
            out.append(bytes.data() + i, n);
        }
        i += n;
    }
    return out;
}

std::u16string EscapeName(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t unit : text) {
        // Surrogates are never escapes' business: pairs pass whole, unpaired ones stay.
        char escape[8];
        if (!(unit >= 0xD800 && unit <= 0xDFFF) && EscapeOf(unit, EscapeRule::kDisplay, escape)) {
            for (const char* c = escape; *c; ++c) out.push_back(static_cast<char16_t>(*c));
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

bool NeedsEscape(std::string_view bytes) {
    return EscapeName(bytes).size() != bytes.size();
}

}  // namespace tovarek
