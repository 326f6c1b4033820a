// The scan log: the result list of one scan as plain text, "log/sl<start time>.log" under the
// program's directory. Its name depends only on the scan's start, so every later deletion
// rewrites the same file with the lines then left. Stateless; any thread, though two writers of
// one file may interleave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovarek {

// Nothing exists at `filePath` now (a link that lost its target still exists).
bool PathVanished(const std::u16string& filePath);

// A result line: the path, followed by "(系统文件，未处理)" for a system file (left as it was),
// else by "(已删除)" when nothing exists at that path now.
std::u16string ScanResultLine(const std::u16string& filePath, bool systemFile = false);

// LogFolderOf(moduleDir) + "sl" + the local start time as "%Y-%m-%d %H_%M_%S" + ".log", as bytes.
std::string ScanLogPath(const std::u16string& moduleDir, int64_t startTime);

// One finding of the log, from the scan's records.
struct ScanLogLine {
    std::u16string filePath;
    bool systemFile = false;  // marked "(系统文件，未处理)"
    bool vanished = false;    // else marked "(已删除)" when set
    std::u16string note;      // written right after the mark: why a found file stayed
};

// Writes one line per entry in order, each + CR LF, in the ANSI code page with file names as the
// bytes the file system holds; no header. The file is created or truncated; "log/" is created
// when missing. No lines: nothing is written and no folder is made. The name is escaped
// (EscapeName), so it can't forge a line or pass for another. Returns 0 when written (or nothing to
// write), -1 when the file could not be created or written.
int WriteScanLog(const std::u16string& moduleDir, int64_t startTime,
                 const std::vector<ScanLogLine>& lines);

}  // namespace tovarek
