#include "platform/lower_case.h"

namespace tovarek {

// Simple one-to-one case mapping for the scripts file names are written in: ASCII, Latin-1,
// Latin Extended-A, Greek, Cyrillic and the full-width Latin letters. No character changes length.
char16_t LowerCaseChar(char16_t c) {
    if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F) {
        // Pairs: even upper, odd lower (IJ, Ĵ and Ķ included), except 0x139-0x148 and
        // 0x179-0x17E which pair odd upper with even lower. İ folds to i; ı, ĸ, ŉ and ſ have no
        // upper-case partner here.
        if (c == 0x130) return u'i';
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c & 1) ? static_cast<char16_t>(c + 1) : c;
        if (c == 0x178) return 0xFF;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) ? c : static_cast<char16_t>(c + 1);
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489)) {
        if (c == 0x4C0) return 0x4CF;
        if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
        if (c == 0x4CF) return c;
        return (c & 1) ? c : static_cast<char16_t>(c + 1);
    }
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
    return c;
}

std::u16string LowerCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = LowerCaseChar(c);
    return out;
}

}  // namespace tovarek
