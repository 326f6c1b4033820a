// Local-time formatting shared by the scan log, the process watch and the list import.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovarek {

// Formats `time` (seconds since the epoch) as local time with a strftime pattern. The result
// holds at most 127 UTF-16 units (a 128-unit buffer with its terminator); when the conversion
// fails or the text would not fit, the result is empty. Thread-safe (localtime_r).
std::u16string FormatLocalTime(std::u16string_view pattern, int64_t time);

// The current time in seconds since the epoch.
int64_t NowSeconds();

}  // namespace tovarek
