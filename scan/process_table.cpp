#include "scan/process_table.h"

#include <stdio.h>
#include <unistd.h>

#include "platform/code_page.h"
#include "platform/lower_case.h"
#include "platform/path_text.h"
#include "platform/pidfd.h"
#include "platform/proc_reader.h"

namespace tovarek {
namespace {

// Linux has no single shell process; these desktop shells stand in for it.
constexpr std::u16string_view kDesktopShells[] = {
    u"gnome-shell", u"plasmashell", u"xfdesktop", u"cinnamon",
    u"mate-panel",  u"lxqt-panel",  u"lxpanel",   u"budgie-panel",
};

// Where a launch chain begins on a desktop: panels, file managers, launchers, terminals' server
// processes and the session's own services start programs for the user without being part of
// any one of them (lower-case executable names, as the table holds them). Launchers that run
// under an interpreter (ulauncher, albert's plugins) show as the interpreter and are not caught.
constexpr std::u16string_view kDesktopLaunchers[] = {
    // panels and docks
    u"xfce4-panel",
    u"mate-panel",
    u"lxpanel",
    u"lxqt-panel",
    u"budgie-panel",
    u"plank",
    u"tint2",
    u"waybar",
    // file managers
    u"nautilus",
    u"nemo",
    u"caja",
    u"thunar",
    u"dolphin",
    u"pcmanfm",
    u"pcmanfm-qt",
    // launchers
    u"krunner",
    u"xfce4-appfinder",
    u"rofi",
    u"wofi",
    u"dmenu",
    u"ulauncher",
    u"albert",
    // terminals
    u"gnome-terminal-server",
    u"konsole",
    u"xfce4-terminal",
    u"mate-terminal",
    u"lxterminal",
    u"tilix",
    u"terminator",
    u"kitty",
    u"alacritty",
    u"xterm",
    u"urxvt",
    u"foot",
    u"wezterm-gui",
    // session services
    u"systemd",
    u"dbus-daemon",
    u"dbus-broker",
    u"gnome-session-binary",
    u"ksmserver",
    u"xfce4-session",
    u"lxsession",
    u"mate-session",
    u"cinnamon-session",
};

bool IsSessionLeader(const ProcessEntry& e) {
    return e.sessionId != 0 && e.sessionId == e.processId;
}

}  // namespace

bool IsDesktopShellName(std::u16string_view exeName) {
    for (std::u16string_view shell : kDesktopShells) {
        if (exeName == shell) return true;
    }
    return false;
}

bool IsDesktopLauncherName(std::u16string_view exeName) {
    for (std::u16string_view launcher : kDesktopLaunchers) {
        if (exeName == launcher) return true;
    }
    return IsDesktopShellName(exeName);
}

int SnapshotProcesses(ProcessTable& table, uint32_t& shellProcessId) {
    std::vector<uint32_t> pids;
    if (!ListProcessIds(pids)) {
        fputs(Utf16ToAnsi(u"CreateToolhelp32Snapshot调用失败!\n").c_str(), stdout);
        return -1;
    }
    for (uint32_t pid : pids) {
        ProcStat st;
        // Gone since the listing, or a kernel thread: neither is a process here.
        if (!ReadProcStat(pid, st) || st.IsKernelThread()) continue;
        ProcessEntry e;
        e.processId = pid;
        e.parentProcessId = st.ppid;
        e.sessionId = st.sessionId;
        e.startTime = st.startTime;
        e.hasExited = st.state == 'Z' || st.state == 'X';
        e.exePathBytes = ReadExeLink(pid);
        e.exePath = PathToUtf16(e.exePathBytes);
        e.exeId = FileIdOfPath(ProcExePath(pid));
        std::string name;
        if (!e.exePathBytes.empty()) {
            name = std::string(BaseName(e.exePathBytes));
        } else {
            name = std::string(BaseName(ReadCommandName(pid)));
            if (name.empty()) name = st.comm;
        }
        e.exeName = LowerCase(PathToUtf16(name));
        table[pid] = std::move(e);
    }
    uint32_t shell = 0;
    for (const auto& [pid, e] : table) {
        if (IsDesktopShellName(e.exeName)) {
            shell = pid;
            break;
        }
    }
    shellProcessId = shell;
    return 0;
}

std::set<uint32_t> ProtectedProcessIds() {
    std::set<uint32_t> result{1};
    uint32_t pid = static_cast<uint32_t>(getpid());
    // Our ancestors up to the namespace's edge (parent 0); a cycle can't occur on the live
    // chain, but the set stops one anyway.
    while (pid != 0 && result.insert(pid).second) {
        ProcStat st;
        if (!ReadProcStat(pid, st)) break;
        pid = st.ppid;
    }
    return result;
}

std::vector<uint32_t> ChainProcessIds(const ProcessTable& table, uint32_t targetId,
                                      uint32_t shellProcessId,
                                      const std::set<uint32_t>& protectedIds) {
    std::vector<uint32_t> chain;
    if (targetId == 0 || protectedIds.count(targetId)) return chain;
    std::set<uint32_t> seen{targetId};

    // Up: ancestors nearest first, until the shell, a session leader, a desktop launcher, a
    // protected process, a missing parent or a PID already met. A session leader (the target
    // included) is where its session began: what launched it (a terminal emulator, sshd) belongs to
    // no chain of it.
    auto e = table.find(targetId);
    while (e != table.end() && e->second.parentProcessId != shellProcessId &&
           !IsSessionLeader(e->second)) {
        uint32_t parent = e->second.parentProcessId;
        if (parent == 0 || seen.count(parent) || protectedIds.count(parent)) break;
        e = table.find(parent);
        if (e != table.end() &&
            (IsSessionLeader(e->second) || IsDesktopLauncherName(e->second.exeName))) {
            break;
        }
        seen.insert(parent);
        chain.push_back(parent);
    }
    chain.push_back(targetId);

    // Down: the lowest-PID child of each generation only; siblings keep running.
    std::map<uint32_t, uint32_t> firstChild;
    for (const auto& [pid, entry] : table) firstChild.emplace(entry.parentProcessId, pid);
    uint32_t current = targetId;
    for (;;) {
        auto child = firstChild.find(current);
        if (child == firstChild.end() || seen.count(child->second) ||
            protectedIds.count(child->second)) {
            break;
        }
        current = child->second;
        seen.insert(current);
        chain.push_back(current);
    }
    return chain;
}

std::vector<uint32_t> ProcessIdsOfFile(const ProcessTable& table, std::u16string_view path,
                                       std::u16string_view name, const FileId& fileId) {
    std::vector<uint32_t> result;
    if (path.empty() || name.empty()) return result;
    std::u16string lowerName = LowerCase(name);
    for (const auto& [pid, e] : table) {
        if (e.hasExited) continue;
        // Where both identities are known they decide, whatever names the file: a hard link
        // under another name runs the same file, a new file put at the path is another one.
        if (e.exeId.known && fileId.known) {
            if (e.exeId.SameFile(fileId)) result.push_back(pid);
            continue;
        }
        if (e.exeName != lowerName) continue;
        // An unreadable path (another user's process) matches by name alone.
        if (!e.exePath.empty() && e.exePath != path) continue;
        result.push_back(pid);
    }
    return result;
}

int EndProcesses(const ProcessTable& table, const std::vector<uint32_t>& processIds) {
    const uint32_t self = static_cast<uint32_t>(getpid());
    std::vector<Pidfd> opened;
    opened.reserve(processIds.size());
    for (uint32_t pid : processIds) {
        auto e = table.find(pid);
        if (e == table.end() || pid == 1 || pid == self) continue;
        Pidfd fd;
        if (!fd.Open(pid)) continue;
        // The descriptor now pins whatever holds the PID; it is ours only if that process
        // started when the snapshot's did.
        ProcStat st;
        if (!ReadProcStat(pid, st) || st.startTime != e->second.startTime) continue;
        opened.push_back(std::move(fd));
    }
    int signalled = 0;
    for (Pidfd& fd : opened) {
        if (fd.Kill()) ++signalled;
    }
    return signalled;
}

int Processes::Snapshot(ProcessTable& table, uint32_t& shellProcessId) {
    return SnapshotProcesses(table, shellProcessId);
}

std::set<uint32_t> Processes::ProtectedProcessIds() {
    return tovarek::ProtectedProcessIds();
}

void Processes::EndChain(const ProcessTable& table, uint32_t processId, uint32_t shellProcessId,
                         const std::set<uint32_t>& protectedIds) {
    EndProcesses(table, ChainProcessIds(table, processId, shellProcessId, protectedIds));
}

void Processes::EndProcessesOfFile(const ProcessTable& table, uint32_t shellProcessId,
                                   std::u16string_view path, std::u16string_view name,
                                   const FileId& fileId) {
    std::vector<uint32_t> targets = ProcessIdsOfFile(table, path, name, fileId);
    if (targets.empty()) return;
    const std::set<uint32_t> protectedIds = ProtectedProcessIds();
    for (uint32_t pid : targets) EndChain(table, pid, shellProcessId, protectedIds);
}

Processes& SystemProcesses() {
    static Processes processes;
    return processes;
}

}  // namespace tovarek
