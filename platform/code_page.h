// Code pages and conversions between them and UTF-16, served by glibc iconv.
// Every function is thread-safe and none of them changes the process locale.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageGbk = 936;

// The code page of the locale's character set (from the environment, as setlocale(LC_ALL, "")
// would pick it): UTF-8 -> 65001, GBK -> 936, GB18030 -> 54936, ...; plain ASCII -> 65001.
// CurrentEnv() answers it, so a test can pretend another locale.
int AnsiCodePage();

// The iconv name of a code page, or nullptr when iconv has no counterpart for it.
const char* IconvNameOfCodePage(int codePage);

// Bytes in `codePage` to UTF-16. Invalid or cut sequences become U+FFFD and set *lost.
// Returns false (and leaves `out` empty) only when the code page is unknown.
bool CodePageToUtf16(int codePage, std::string_view in, std::u16string& out, bool* lost = nullptr);

// UTF-16 to bytes in `codePage`. A character with no form there (or a lone surrogate) is written
// as '?' and sets *lost. Returns false (and leaves `out` empty) only when the code page is unknown.
bool Utf16ToCodePage(int codePage, std::u16string_view in, std::string& out, bool* lost = nullptr);

// Shorthands for the two conversions every layer needs.
std::u16string Utf8ToUtf16(std::string_view in);
std::string Utf16ToUtf8(std::u16string_view in);
std::string Utf16ToAnsi(std::u16string_view in);
std::u16string AnsiToUtf16(std::string_view in);

}  // namespace tovarek
