// Character and entity references, escaping of markup characters, CDATA sections. Pure
// functions over UTF-16 text, safe on any thread.
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>

namespace tovarek {

constexpr uint32_t kEscapeKeepReferences = 0x08;  // copy "&name;" / "&#n;" unchanged
constexpr uint32_t kEscapeAttribute = 0x100;      // also apostrophe and quotation mark

// Replaces "&name;", "&#n;" and "&#xh;" (names of HTML 4.01 and "apos"); anything that is not a
// known reference is copied unchanged. length -1: up to the terminating zero.
std::u16string DecodeEntities(const char16_t* text, long long length = -1);
inline std::u16string DecodeEntities(std::u16string_view text) {
    return DecodeEntities(text.data(), static_cast<long long>(text.size()));
}

// '<' '&' '>' (and with kEscapeAttribute apostrophe and quotation mark) as references.
std::u16string EscapeText(std::u16string_view text, uint32_t flags = 0);

// "<![CDATA[" text "]]>", every "]]>" inside split across two sections.
std::u16string MakeCdata(std::u16string_view text);

}  // namespace tovarek
