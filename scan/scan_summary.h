// The texts a scan ends with: the elapsed time and the summary line. Shared by the scan page and
// the command-line scan. Pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>

namespace tovarek {

// "%H小时%M分钟%S秒" of a span in seconds: hours within the day (whole days are dropped),
// minutes within the hour, seconds within the minute, two digits each. A negative span (the
// clock was set back during the scan) reads as zero.
std::u16string FormatElapsed(int64_t seconds);

// "扫描%d个文件,危险文件%d个,耗时" + FormatElapsed(elapsed), with "扫描结束，共" in front when
// `final`. The scanned count is printed through its low 32 bits. A final summary of a scan that
// left folders unwalked (roots it could not open or refused, subtrees too deep) says how many
// after it, ",无法扫描目录%d个", so it never reads as a clean result.
std::u16string BuildScanSummary(int64_t scanned, int dangerous, int64_t elapsedSeconds, bool final,
                                uint64_t foldersNotWalked = 0);

}  // namespace tovarek
