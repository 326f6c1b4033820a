// UTF-8 sequences one at a time, the UTF-8 test of unlabelled bytes, and where a read piece of a
// file may be cut without splitting a character. Pure functions, thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tovarek {

// Decodes the sequence at `pos` and moves `pos` past it. Lenient: the lead byte's 0x20, 0x10 and
// 0x08 bits give the length and each continuation byte needs only its top bit, so over-long forms
// and surrogates pass. A sequence that runs into `end` or has a bad byte gives -1, and `pos` then
// moves by one byte so that callers always make progress.
int32_t Utf8Decode(const char*& pos, const char* end);

// Writes `codePoint` at buffer + pos (nothing when buffer is null, to count) and advances `pos`
// by 1 to 4: 1 below 0x80, 2 below 0x800, 3 up to 0xFFFF, otherwise 4.
void Utf8Encode(uint32_t codePoint, char* buffer, size_t& pos);

// Whether the bytes, up to `length` or the first zero byte, are well-formed UTF-8. The test is
// strict (no over-long forms, surrogates or code points above 0x10FFFF): the lenient decoder
// above would take most GBK and Big5 text for UTF-8. *multiByteCount receives the number of
// sequences of two or more bytes met; *cutOff whether the failing sequence was sound but ran
// into the end of the buffer (a piece that was cut there).
bool IsUtf8Bytes(const char* buffer, size_t length, int* multiByteCount = nullptr,
                 bool* cutOff = nullptr);

// How many bytes at the end of a piece in `encodingName` (empty: the ANSI code page) belong to a
// character that the next piece completes. UTF-16 (units in the byte order the name says): an odd
// trailing byte plus a trailing high surrogate. UTF-8: a sound but unfinished last sequence.
// Double-byte code pages and GB18030: found by converting tails of up to 40 bytes. Single-byte
// code pages: 0. False when no character boundary was found near the end; `carry` is then 0.
bool CarryLength(const char* buffer, size_t length, std::u16string_view encodingName,
                 size_t& carry);

}  // namespace tovarek
