#include "platform/local_time.h"

#include <time.h>

#include "platform/code_page.h"

namespace tovarek {

std::u16string FormatLocalTime(std::u16string_view pattern, int64_t time) {
    time_t t = static_cast<time_t>(time);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return {};
    std::string format = Utf16ToUtf8(pattern);
    if (format.empty()) return {};
    // UTF-8 takes up to 3 bytes per UTF-16 unit, so 128 units never need more than this.
    char buf[128 * 3 + 1];
    size_t n = strftime(buf, sizeof buf, format.c_str(), &local);
    if (n == 0) return {};
    std::u16string text = Utf8ToUtf16(std::string_view(buf, n));
    if (text.size() >= 128) return {};
    return text;
}

int64_t NowSeconds() {
    return static_cast<int64_t>(::time(nullptr));
}

}  // namespace tovarek
