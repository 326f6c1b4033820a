#include "platform/code_page_decoder.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/code_page.h"
#include "platform/utf8_sequence.h"

namespace tovarek {

namespace {

// Code page 936 pairs (lead 0x81-0xFE, trail 0x40-0xFE) as the system converter maps them, made
// once: table lookups instead of a converter call per character, with the very same result. 0
// marks a pair the converter does not map to one UTF-16 unit; those go to the converter.
constexpr int kGbkTrails = 0xFF - 0x40;
const char16_t* GbkTable() {
    static const char16_t* const table = [] {
        static char16_t cells[126 * kGbkTrails];
        const char* utf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
        iconv_t cd = iconv_open(utf16, IconvNameOfCodePage(kCodePageGbk));
        if (cd == reinterpret_cast<iconv_t>(-1)) return static_cast<const char16_t*>(nullptr);
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                char16_t unit[2] = {0, 0};
                char* src = in;
                size_t left = 2;
                char* dst = reinterpret_cast<char*>(unit);
                size_t room = sizeof unit;
                size_t r = iconv(cd, &src, &left, &dst, &room);
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                bool one = r != static_cast<size_t>(-1) && left == 0 && room == sizeof(char16_t);
                cells[(lead - 0x81) * kGbkTrails + (trail - 0x40)] = one ? unit[0] : 0;
            }
        }
        iconv_close(cd);
        return static_cast<const char16_t*>(cells);
    }();
    return table;
}

// Widens the ASCII run at `in` into `out`; returns its length. Sixteen bytes are tested at a time
// so that the copy of a mostly ASCII list runs as wide as the machine goes.
size_t WidenAscii(const unsigned char* in, size_t n, char16_t* out) {
    size_t i = 0;
    while (i + 16 <= n) {
        uint64_t a, b;
        memcpy(&a, in + i, 8);
        memcpy(&b, in + i + 8, 8);
        if ((a | b) & 0x8080808080808080ull) break;
        for (size_t k = 0; k < 16; ++k) out[i + k] = in[i + k];
        i += 16;
    }
    while (i < n && in[i] < 0x80) {
        out[i] = in[i];
        ++i;
    }
    return i;
}

}  // namespace

CodePageDecoder::CodePageDecoder(int codePage, bool fastPath) {
    const char* name = IconvNameOfCodePage(codePage);
    if (!name) return;
    const char* utf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
    iconv_t cd = iconv_open(utf16, name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    m_pHandle = cd;
    if (fastPath && codePage == kCodePageUtf8) m_nFastPath = kFastUtf8;
    if (fastPath && codePage == kCodePageGbk && GbkTable()) m_nFastPath = kFastGbk;
    if (codePage == 1200 || codePage == 1201) m_nSkipBytes = 2;
    if (codePage == 12000 || codePage == 12001) m_nSkipBytes = 4;
}

CodePageDecoder::~CodePageDecoder() {
    if (m_pHandle) iconv_close(static_cast<iconv_t>(m_pHandle));
}

size_t CodePageDecoder::Decode(std::string_view in, bool final, std::u16string& out, bool* lost) {
    if (!m_pHandle) return 0;
    if (m_nFastPath == kFastNone) return DecodeWithConverter(in, final, out, lost);
    // Decoded through a block that stays in cache, so the text is written once, by the append.
    constexpr size_t kBlock = 4096;
    char16_t block[kBlock + 2];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    const char16_t* gbk = m_nFastPath == kFastGbk ? GbkTable() : nullptr;
    size_t used = 0;
    size_t i = 0;
    while (i < n) {
        if (used >= kBlock) {
            out.append(block, used);
            used = 0;
        }
        if (p[i] < 0x80) {
            size_t run = WidenAscii(p + i, std::min(n - i, kBlock - used), block + used);
            i += run;
            used += run;
            continue;
        }
        size_t took = 0;
        size_t units = 0;
        if (gbk) {
            if (p[i] >= 0x81 && p[i] <= 0xFE && i + 1 < n && p[i + 1] >= 0x40 && p[i + 1] != 0xFF) {
                char16_t u = gbk[(p[i] - 0x81) * kGbkTrails + (p[i + 1] - 0x40)];
                if (u != 0) {
                    block[used] = u;
                    took = 2;
                    units = 1;
                }
            }
        } else {
            // Ill-formed or cut sequences are left to the converter.
            char32_t cp = 0;
            took = DecodeUtf8Sequence(p + i, n - i, &cp);
            if (took != 0) units = PutUtf16(cp, block + used);
        }
        if (took == 0) break;  // the converter takes it from here: errors, cut sequences
        i += took;
        used += units;
    }
    out.append(block, used);
    if (i == n) return n;
    return i + DecodeWithConverter(in.substr(i), final, out, lost);
}

size_t CodePageDecoder::DecodeWithConverter(std::string_view in, bool final, std::u16string& out,
                                            bool* lost) {
    iconv_t cd = static_cast<iconv_t>(m_pHandle);
    // Converted through a small buffer that stays in cache; `out` grows only by what is written.
    char16_t block[8192];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char* dst = reinterpret_cast<char*>(block);
        size_t room = sizeof block;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        const int err = r == static_cast<size_t>(-1) ? errno : 0;
        out.append(block, (sizeof block - room) / sizeof(char16_t));
        if (err == 0 || err == E2BIG) continue;
        if (err == EINVAL && !final) break;  // the rest comes with the next block
        if (lost) *lost = true;
        out.push_back(u'\uFFFD');
        if (err == EINVAL) {
            left = 0;
            break;
        }
        size_t skip = m_nSkipBytes < left ? m_nSkipBytes : left;
        src += skip;
        left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return in.size() - left;
}

}  // namespace tovarek
