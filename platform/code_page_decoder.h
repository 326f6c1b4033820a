// Converts bytes in one code page to UTF-16 a block at a time, appending to a string, so that a
// large file is converted while it is read without a second copy of it in memory. One decoder
// belongs to one thread; its shift state carries from one block to the next.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tovarek {

class CodePageDecoder {
public:
    // A decoder whose IsOpen() is false when the code page has no converter here.
    // `fastPath` false leaves every byte to the system converter (tests compare the two).
    explicit CodePageDecoder(int codePage, bool fastPath = true);
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    bool IsOpen() const { return m_pHandle != nullptr; }

    // Appends the UTF-16 of `in` to `out` and returns the bytes used. An invalid sequence becomes
    // U+FFFD and sets *lost. A sequence cut by the end of `in` is left unused for the next call,
    // unless `final`: then it is one U+FFFD.
    size_t Decode(std::string_view in, bool final, std::u16string& out, bool* lost = nullptr);

private:
    enum FastPath { kFastNone, kFastUtf8, kFastGbk };
    size_t DecodeWithConverter(std::string_view in, bool final, std::u16string& out, bool* lost);

    void* m_pHandle = nullptr;         // iconv_t
    FastPath m_nFastPath = kFastNone;  // well-formed text decoded here, the rest by the converter
    size_t m_nSkipBytes = 1;           // bytes passed over after an invalid sequence
};

}  // namespace tovarek
