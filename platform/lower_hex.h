// Fingerprints are written as lower-case hex digits; reading one is on the hot path of every
// list load (a value per row) and every lookup, so it goes through a table, without a branch
// per digit.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

namespace tovarek {

// The value of each byte as a lower-case hex digit; 0x80 marks any other byte.
inline constexpr std::array<uint8_t, 256> kLowerHexValues = [] {
    std::array<uint8_t, 256> values{};
    for (int c = 0; c < 256; ++c) {
        values[c] = c >= '0' && c <= '9'   ? static_cast<uint8_t>(c - '0')
                    : c >= 'a' && c <= 'f' ? static_cast<uint8_t>(c - 'a' + 10)
                                           : 0x80;
    }
    return values;
}();

// The value of the 16 lower-case hex digits at `digits` (char or char16_t); false when any of
// them is something else (an upper-case digit too).
template <class Char>
bool LowerHex64(const Char* digits, uint64_t& value) {
    uint64_t v = 0;
    unsigned bad = 0;
    for (int i = 0; i < 16; ++i) {
        const auto c = static_cast<std::make_unsigned_t<Char>>(digits[i]);
        const unsigned d = c < 256 ? kLowerHexValues[c] : 0x80u;
        bad |= d;
        v = v << 4 | (d & 15);
    }
    value = v;
    return (bad & 0x80) == 0;
}

}  // namespace tovarek
