#include "scan/scan_summary.h"

#include <stdio.h>

#include "platform/code_page.h"

namespace tovarek {

std::u16string FormatElapsed(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[64];
    snprintf(text, sizeof text, "%02d小时%02d分钟%02d秒", static_cast<int>(seconds / 3600 % 24),
             static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return Utf8ToUtf16(text);
}

std::u16string BuildScanSummary(int64_t scanned, int dangerous, int64_t elapsedSeconds, bool final,
                                uint64_t foldersNotWalked) {
    char text[128];
    snprintf(text, sizeof text, "扫描%d个文件,危险文件%d个,耗时",
             static_cast<int32_t>(static_cast<uint32_t>(scanned)), dangerous);
    std::u16string summary = final ? u"扫描结束，共" : u"";
    summary += Utf8ToUtf16(text);
    summary += FormatElapsed(elapsedSeconds);
    if (final && foldersNotWalked > 0) {
        snprintf(text, sizeof text, ",无法扫描目录%d个",
                 static_cast<int32_t>(static_cast<uint32_t>(foldersNotWalked)));
        summary += Utf8ToUtf16(text);
    }
    return summary;
}

}  // namespace tovarek
