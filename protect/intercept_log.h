// The traces an interception leaves in text: the history line and the daily interception log
// ("log/pl<date>.log" under the program's directory). Stateless; safe on any thread, though two
// threads appending to one log file may interleave whole lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovarek {

class CoreState;

// "[%Y-%m-%d %H:%M:%S]终止进程：" + exeName, in local time. Names and paths in these lines are
// escaped (EscapeName): one line each, shown as what they are.
std::u16string BuildHistoryLine(int64_t now, std::u16string_view exeName);

// "[%Y-%m-%d %H:%M:%S]系统文件，未终止：" + exePath: a listed process left running because its
// executable is an unmodified file of an installed package.
std::u16string BuildSystemFileLine(int64_t now, std::u16string_view exePath);

// "[%Y-%m-%d %H:%M:%S]列表读取失败，保护暂停": the list could not be read, so nothing is matched
// until it can.
std::u16string BuildListFailureLine(int64_t now);

// What stands between the stamp and the path in the log line of such a process.
constexpr char16_t kSystemFileNote[] = u"系统文件，未终止：";

// The interception, also told to the system journal: the executable's path and fingerprint (32
// hex digits, or null when it could not be taken), the ended process, the log line as MESSAGE.
void JournalInterception(std::u16string_view exePath, const char* digest, uint32_t pid,
                         int64_t now);

// The log file the line for `now` goes to: LogFolderOf(moduleDir) + "pl" + local date + ".log".
std::string InterceptLogPath(const std::u16string& moduleDir, int64_t now);

// Appends "[" + local time + "]" + note + exePath + CR LF (stamp and note in the ANSI code page,
// the path as the bytes the file system holds, escaped) to the file of the local day of `now`,
// creating "log/" and the file when missing. A failure loses the line; the first one for a file
// is told on standard error.
void WriteInterceptLog(const CoreState& app, std::u16string_view exePath, int64_t now,
                       std::u16string_view note = {});

}  // namespace tovarek
