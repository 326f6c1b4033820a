// Reading the process table from /proc. Every function reads the live /proc of the caller's PID
// namespace, keeps no state and is safe on any thread. A process may vanish between any two
// reads; every reader then simply fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovarek {

struct ProcStat {
    uint32_t pid = 0;
    std::string comm;  // field 2, without its parentheses
    char state = 0;
    uint32_t ppid = 0;
    uint32_t sessionId = 0;
    unsigned flags = 0;
    uint64_t startTime = 0;
    bool IsKernelThread() const;
};

// Parses the text of /proc/<pid>/stat. comm may hold blanks and ')' itself, so the fields after
// it are found from the last ')'. False on malformed text.
bool ParseProcStat(std::string_view text, ProcStat& out);

// Reads and parses /proc/<pid>/stat.
bool ReadProcStat(uint32_t pid, ProcStat& out);

// The numeric entries of /proc, ascending. False when /proc can't be listed.
bool ListProcessIds(std::vector<uint32_t>& out);

// The target of /proc/<pid>/exe without the kernel's " (deleted)" marker; empty when unreadable.
std::string ReadExeLink(uint32_t pid);

// The first word (up to the first NUL) of /proc/<pid>/cmdline; empty when unreadable or empty.
std::string ReadCommandName(uint32_t pid);

// The path through which the running executable of `pid` can be read ("/proc/<pid>/exe").
std::string ProcExePath(uint32_t pid);

// The last component of a path.
std::string_view BaseName(std::string_view path);

}  // namespace tovarek
