#include "platform/proc_reader.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

namespace tovarek {
namespace {

// PF_KTHREAD from the kernel's sched.h; flags are stat field 9.
constexpr unsigned kPfKthread = 0x00200000;

// Reads at most `size` bytes of a small /proc file; -1 on failure.
ssize_t ReadSmallFile(const char* path, char* buffer, size_t size) {
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    size_t total = 0;
    while (total < size) {
        ssize_t n = read(fd, buffer + total, size - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    close(fd);
    return static_cast<ssize_t>(total);
}

bool ParseUnsigned(std::string_view& text, uint64_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    size_t start = i;
    uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        ++i;
    }
    if (i == start) return false;
    value = v;
    text.remove_prefix(i);
    return true;
}

// Skips one blank-separated field, which may be negative.
bool SkipField(std::string_view& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\n') ++i;
    if (i == start) return false;
    text.remove_prefix(i);
    return true;
}

}  // namespace

bool ProcStat::IsKernelThread() const {
    return (flags & kPfKthread) != 0;
}

bool ParseProcStat(std::string_view text, ProcStat& out) {
    // Field 1 pid, 2 (comm), 3 state, 4 ppid, 5 pgrp, 6 session, 7 tty_nr, 8 tpgid, 9 flags,
    // 10-21 minflt..itrealvalue, 22 starttime (proc(5)).
    size_t open = text.find('(');
    size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return false;
    }
    std::string_view head = text.substr(0, open);
    uint64_t pid = 0;
    if (!ParseUnsigned(head, pid)) return false;
    ProcStat st;
    st.pid = static_cast<uint32_t>(pid);
    st.comm = std::string(text.substr(open + 1, close - open - 1));
    std::string_view rest = text.substr(close + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) return false;
    st.state = rest.front();
    rest.remove_prefix(1);
    uint64_t ppid = 0, pgrp = 0, session = 0, flags = 0, start = 0;
    if (!ParseUnsigned(rest, ppid) || !ParseUnsigned(rest, pgrp) || !ParseUnsigned(rest, session))
        return false;
    if (!SkipField(rest) || !SkipField(rest)) return false;  // tty_nr, tpgid (may be -1)
    if (!ParseUnsigned(rest, flags)) return false;
    for (int field = 10; field <= 21; ++field) {
        if (!SkipField(rest)) return false;
    }
    if (!ParseUnsigned(rest, start)) return false;
    st.ppid = static_cast<uint32_t>(ppid);
    st.sessionId = static_cast<uint32_t>(session);
    st.flags = static_cast<unsigned>(flags);
    st.startTime = start;
    out = std::move(st);
    return true;
}

bool ReadProcStat(uint32_t pid, ProcStat& out) {
    char path[32];
    snprintf(path, sizeof path, "/proc/%u/stat", pid);
    char buffer[1024];
    ssize_t n = ReadSmallFile(path, buffer, sizeof buffer);
    if (n <= 0) return false;
    return ParseProcStat(std::string_view(buffer, static_cast<size_t>(n)), out);
}

bool ListProcessIds(std::vector<uint32_t>& out) {
    out.clear();
    DIR* dir = opendir("/proc");
    if (!dir) return false;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (*name < '1' || *name > '9') continue;
        char* end = nullptr;
        unsigned long pid = strtoul(name, &end, 10);
        if (*end != '\0' || pid == 0 || pid > 0xFFFFFFFFul) continue;
        out.push_back(static_cast<uint32_t>(pid));
    }
    closedir(dir);
    std::sort(out.begin(), out.end());
    return true;
}

std::string ReadExeLink(uint32_t pid) {
    char path[32];
    snprintf(path, sizeof path, "/proc/%u/exe", pid);
    char target[4096 + 16];
    ssize_t n = readlink(path, target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return std::string();
    std::string result(target, static_cast<size_t>(n));
    static constexpr std::string_view kDeleted = " (deleted)";
    if (result.size() > kDeleted.size() &&
        std::string_view(result).substr(result.size() - kDeleted.size()) == kDeleted) {
        result.resize(result.size() - kDeleted.size());
    }
    return result;
}

std::string ReadCommandName(uint32_t pid) {
    char path[32];
    snprintf(path, sizeof path, "/proc/%u/cmdline", pid);
    char buffer[4096];
    ssize_t n = ReadSmallFile(path, buffer, sizeof buffer);
    if (n <= 0) return std::string();
    std::string_view text(buffer, static_cast<size_t>(n));
    size_t nul = text.find('\0');
    return std::string(text.substr(0, nul));
}

std::string ProcExePath(uint32_t pid) {
    char path[32];
    snprintf(path, sizeof path, "/proc/%u/exe", pid);
    return path;
}

std::string_view BaseName(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace tovarek
