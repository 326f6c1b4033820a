#include "platform/code_page_decoder.h"

#include <errno.h>
#include <iconv.h>

#include <bit>

#include "platform/code_page.h"

namespace tovarek {

CodePageDecoder::CodePageDecoder(int codePage) {
    const char* name = IconvNameOfCodePage(codePage);
    if (!name) return;
    const char* utf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
    iconv_t cd = iconv_open(utf16, name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    m_pHandle = cd;
    if (codePage == 1200 || codePage == 1201) m_nSkipBytes = 2;
    if (codePage == 12000 || codePage == 12001) m_nSkipBytes = 4;
}

CodePageDecoder::~CodePageDecoder() {
    if (m_pHandle) iconv_close(static_cast<iconv_t>(m_pHandle));
}

size_t CodePageDecoder::Decode(std::string_view in, bool final, std::u16string& out, bool* lost) {
    if (!m_pHandle) return 0;
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
