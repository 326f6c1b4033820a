#include "platform/code_page.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <atomic>
#include <bit>
#include <cstring>

#include "platform/env.h"
#include "platform/utf8_sequence.h"

namespace tovarek {
namespace {

struct CodePageName {
    int codePage;
    const char* iconvName;
};

// Windows code page numbers and the glibc iconv names that serve them.
constexpr CodePageName kCodePages[] = {
    {37, "IBM037"},
    {437, "CP437"},
    {500, "IBM500"},
    {708, "ISO-8859-6"},
    {720, "CP720"},
    {737, "CP737"},
    {775, "CP775"},
    {850, "CP850"},
    {852, "CP852"},
    {855, "CP855"},
    {857, "CP857"},
    {858, "CP858"},
    {860, "CP860"},
    {861, "CP861"},
    {862, "CP862"},
    {863, "CP863"},
    {864, "CP864"},
    {865, "CP865"},
    {866, "CP866"},
    {869, "CP869"},
    {874, "CP874"},
    {875, "CP875"},
    {932, "CP932"},
    {936, "CP936"},
    {949, "CP949"},
    {950, "BIG5"},
    {1026, "IBM1026"},
    {1047, "IBM1047"},
    {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},
    {1250, "CP1250"},
    {1251, "CP1251"},
    {1252, "CP1252"},
    {1253, "CP1253"},
    {1254, "CP1254"},
    {1255, "CP1255"},
    {1256, "CP1256"},
    {1257, "CP1257"},
    {1258, "CP1258"},
    {1361, "JOHAB"},
    {10000, "MACINTOSH"},
    {10007, "MAC-CYRILLIC"},
    {12000, "UTF-32LE"},
    {12001, "UTF-32BE"},
    {20127, "ASCII"},
    {20866, "KOI8-R"},
    {20932, "EUC-JP"},
    {21866, "KOI8-U"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8"},
    {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},
    {51932, "EUC-JP"},
    {51936, "GB2312"},
    {51949, "EUC-KR"},
    {52936, "HZ"},
    {54936, "GB18030"},
    {65000, "UTF-7"},
    {65001, "UTF-8"},
    // Further code pages that XML files may declare.
    {154, "PT154"},
    {1125, "CP1125"},
    {1133, "CP1133"},
    {10017, "MAC-UK"},
    {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},
    {20936, "GB2312"},
    {50227, "ISO-2022-CN"},
};

// Locale character sets (nl_langinfo(CODESET)) and the code page each means.
constexpr CodePageName kCharsets[] = {
    {65001, "UTF-8"},      {65001, "ANSI_X3.4-1968"},
    {65001, "ASCII"},      {936, "GBK"},
    {936, "GB2312"},       {936, "CP936"},
    {54936, "GB18030"},    {950, "BIG5"},
    {950, "BIG5-HKSCS"},   {932, "SHIFT_JIS"},
    {932, "CP932"},        {20932, "EUC-JP"},
    {51949, "EUC-KR"},     {949, "CP949"},
    {20866, "KOI8-R"},     {21866, "KOI8-U"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},
    {28595, "ISO-8859-5"}, {28597, "ISO-8859-7"},
    {28599, "ISO-8859-9"}, {28605, "ISO-8859-15"},
    {1251, "CP1251"},      {1252, "CP1252"},
    {874, "TIS-620"},
};

int CodePageOfEnvironment() {
    locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return kCodePageUtf8;
    const char* charset = nl_langinfo_l(CODESET, loc);
    int codePage = kCodePageUtf8;
    for (const CodePageName& c : kCharsets) {
        if (charset && strcasecmp(charset, c.iconvName) == 0) {
            codePage = c.codePage;
            break;
        }
    }
    freelocale(loc);
    return codePage;
}

const char* Utf16Native() {
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

// Gives back a large slack: the output of a conversion is often handed on and kept (a whole
// list moves into its document), and its first size is only an upper bound.
template <typename Text>
void ReleaseSlack(Text& out) {
    if (out.capacity() - out.size() > out.size() / 8 + 4096) out.shrink_to_fit();
}

// Runs iconv over the whole input into `out` (bytes or UTF-16 units), first sized for
// `outUnits` units and grown when that is too little. On an invalid or cut sequence it writes
// `replacement` (already in the target encoding), skips `skipUnit` input bytes and reports a
// loss.
template <typename Text>
void ConvertAll(iconv_t cd, const char* in, size_t inLeft, size_t outUnits, Text& out,
                std::string_view replacement, size_t skipUnit, bool* lost,
                bool nativeUtf16 = false) {
    constexpr size_t kUnit = sizeof(typename Text::value_type);
    const size_t replacementUnits = replacement.size() / kUnit;
    out.clear();
    out.resize(outUnits);
    size_t used = 0;  // bytes
    char* src = const_cast<char*>(in);
    for (;;) {
        size_t capacity = out.size() * kUnit;
        char* dst = reinterpret_cast<char*>(out.data()) + used;
        size_t dstLeft = capacity - used;
        size_t r = iconv(cd, inLeft ? &src : nullptr, &inLeft, &dst, &dstLeft);
        used = capacity - dstLeft;
        if (r != static_cast<size_t>(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        // EILSEQ: replace the offending unit and go on. EINVAL: the input ends inside a
        // sequence, which is one loss, not one per byte.
        bool cutAtEnd = errno == EINVAL;
        if (lost) *lost = true;
        if (out.size() * kUnit - used < replacement.size()) {
            out.resize(out.size() * 2 + replacementUnits);
        }
        memcpy(reinterpret_cast<char*>(out.data()) + used, replacement.data(), replacement.size());
        used += replacement.size();
        if (cutAtEnd) break;
        size_t skip = skipUnit < inLeft ? skipUnit : inLeft;
        if (nativeUtf16 && inLeft >= 4) {
            // A character outside the BMP is one character: one replacement, not two.
            char16_t pair[2];
            memcpy(pair, src, sizeof pair);
            if (pair[0] >= 0xD800 && pair[0] <= 0xDBFF && pair[1] >= 0xDC00 && pair[1] <= 0xDFFF) {
                skip = 4;
            }
        }
        src += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        if (inLeft == 0) break;
    }
    out.resize(used / kUnit);
    ReleaseSlack(out);
}

// UTF-8 is the code page of nearly every conversion (paths, SQLite texts, logs), so it has its
// own loops instead of an iconv descriptor per call. They answer exactly as iconv does with the
// replacement rules above: each byte of an invalid sequence is one U+FFFD, a sequence cut by the
// end of the input is one U+FFFD, and a lone surrogate is encoded as '?'.
void DecodeUtf8(std::string_view in, std::u16string& out, bool* lost) {
    out.clear();
    out.reserve(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        unsigned char b = p[i];
        if (b < 0x80) {
            // A run of ASCII at once: most texts (fingerprints, list names) are nothing else.
            size_t end = i + 1;
            while (end < n && p[end] < 0x80) ++end;
            const size_t at = out.size();
            out.resize(at + (end - i));
            for (char16_t* w = &out[at]; i < end; ++i) *w++ = p[i];
            continue;
        }
        // Lead bytes as glibc reads them, up to the old six-byte forms.
        size_t len = b >= 0xC2 && b <= 0xDF   ? 2
                     : b >= 0xE0 && b <= 0xEF ? 3
                     : b >= 0xF0 && b <= 0xF7 ? 4
                     : b >= 0xF8 && b <= 0xFB ? 5
                     : b >= 0xFC && b <= 0xFD ? 6
                                              : 0;
        size_t k = 1;
        while (len && k < len && i + k < n && (p[i + k] & 0xC0) == 0x80) ++k;
        if (len && k < len && i + k == n) {  // cut by the end of the input
            if (lost) *lost = true;
            out.push_back(0xFFFD);
            break;
        }
        uint32_t cp = 0;
        if (k == len) {
            cp = len == 2   ? b & 0x1F
                 : len == 3 ? b & 0x0F
                 : len == 4 ? b & 0x07
                 : len == 5 ? b & 0x03
                            : b & 0x01;
            for (size_t j = 1; j < len; ++j) cp = (cp << 6) | (p[i + j] & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
        // Over-long forms, surrogates and values past U+10FFFF are invalid like a bad byte.
        if (k != len || cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            if (lost) *lost = true;
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        char16_t units[2];
        out.append(units, PutUtf16(cp, units));
        i += len;
    }
    ReleaseSlack(out);
}

void EncodeUtf8(std::u16string_view in, std::string& out, bool* lost) {
    out.clear();
    out.reserve(in.size() * 3 / 2 + 8);
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t c = in[i];
        if (c < 0xD800 || c > 0xDFFF) {
            AppendUtf8(c, out);
        } else if (c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00), out);
            ++i;
        } else {
            out.push_back('?');
            if (lost) *lost = true;
        }
    }
    ReleaseSlack(out);
}

}  // namespace

int AnsiCodePage() {
    return CurrentEnv().AnsiCodePage();
}

int Env::AnsiCodePage() const {
    static const int codePage = CodePageOfEnvironment();
    return codePage;
}

const char* IconvNameOfCodePage(int codePage) {
    for (const CodePageName& c : kCodePages) {
        if (c.codePage == codePage) return c.iconvName;
    }
    return nullptr;
}

bool CodePageToUtf16(int codePage, std::string_view in, std::u16string& out, bool* lost) {
    if (codePage == kCodePageUtf8) {
        DecodeUtf8(in, out, lost);
        return true;
    }
    out.clear();
    const char* name = IconvNameOfCodePage(codePage);
    if (!name) return false;
    iconv_t cd = iconv_open(Utf16Native(), name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    static constexpr char16_t kReplacement = u'\uFFFD';
    size_t unit = codePage == 1200 || codePage == 1201     ? 2
                  : codePage >= 12000 && codePage <= 12001 ? 4
                                                           : 1;
    // Nearly every code page gives at most one UTF-16 unit per byte; the output grows for one
    // that gives more.
    ConvertAll(cd, in.data(), in.size(), in.size() + 8, out,
               std::string_view(reinterpret_cast<const char*>(&kReplacement), 2), unit, lost);
    iconv_close(cd);
    return true;
}

bool Utf16ToCodePage(int codePage, std::u16string_view in, std::string& out, bool* lost) {
    if (codePage == kCodePageUtf8) {
        EncodeUtf8(in, out, lost);
        return true;
    }
    out.clear();
    const char* name = IconvNameOfCodePage(codePage);
    if (!name) return false;
    iconv_t cd = iconv_open(name, Utf16Native());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // Sized for one byte per ASCII unit and two per other unit, which holds 936 and the other
    // ASCII-based double-byte code pages exactly enough; the few that need more (GB18030,
    // UTF-32, EBCDIC) grow the output as they go.
    size_t outBytes = in.size() + 16;
    for (char16_t c : in) outBytes += c >= 0x80;
    ConvertAll(cd, reinterpret_cast<const char*>(in.data()), in.size() * 2, outBytes, out, "?", 2,
               lost, true);
    iconv_close(cd);
    return true;
}

std::u16string Utf8ToUtf16(std::string_view in) {
    std::u16string out;
    CodePageToUtf16(kCodePageUtf8, in, out);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
    std::string out;
    Utf16ToCodePage(kCodePageUtf8, in, out);
    return out;
}

std::string Utf16ToAnsi(std::u16string_view in) {
    std::string out;
    Utf16ToCodePage(AnsiCodePage(), in, out);
    return out;
}

std::u16string AnsiToUtf16(std::string_view in) {
    std::u16string out;
    CodePageToUtf16(AnsiCodePage(), in, out);
    return out;
}

}  // namespace tovarek
