// Charset names (as documents declare them) to Windows code page numbers. The table is fixed and
// read-only, so every function here is thread-safe.
#pragma once

#include <string_view>

namespace tovarek {

// Code page of a UTF-32 name written in capitals ("UTF-32", "UTF-32BE", ...), the native form.
constexpr int kCodePageUtf32 = 65005;
constexpr int kCodePageUtf16Le = 1200;
constexpr int kCodePageUtf16Be = 1201;

// 0 for an empty name (the system's ANSI code page), 65005 for a name beginning with "UTF-32",
// the table's code page for a known name (ASCII letters compared without case), -1 otherwise.
// Callers treat -1 as 0.
int CodePageFromName(std::u16string_view name);

// The same, with -1 and 0 resolved to the ANSI code page: the code page text is converted with.
int ResolveCodePage(std::u16string_view name);

// Test hook: calls `visit(name, codePage, bucket)` for every entry of the name table.
template <typename Visit>
void ForEachCodePageName(Visit visit);

namespace detail {
constexpr int kNameBucketCount = 155;
extern const std::u16string_view kNameBuckets[kNameBucketCount];
}  // namespace detail

template <typename Visit>
void ForEachCodePageName(Visit visit) {
    for (int bucket = 0; bucket < detail::kNameBucketCount; ++bucket) {
        std::u16string_view s = detail::kNameBuckets[bucket];
        while (s.size() >= 7) {
            int length = (s[0] - u'0') * 10 + (s[1] - u'0');
            int codePage = 0;
            for (int i = 2; i < 7; ++i) codePage = codePage * 10 + (s[i] - u'0');
            visit(s.substr(7, length), codePage, bucket);
            s.remove_prefix(7 + length);
        }
    }
}

}  // namespace tovarek
