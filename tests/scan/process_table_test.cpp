#include "scan/process_table.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/proc_reader.h"

namespace tovarek {
namespace {

struct Proc {
    uint32_t pid;
    uint32_t ppid;
    uint32_t sid = 0;
    const char16_t* name = u"p";
    const char16_t* path = u"";
};

ProcessTable MakeTable(std::initializer_list<Proc> procs) {
    ProcessTable t;
    for (const Proc& p : procs) {
        ProcessEntry e;
        e.processId = p.pid;
        e.parentProcessId = p.ppid;
        e.sessionId = p.sid;
        e.exeName = p.name;
        e.exePath = p.path;
        t[p.pid] = e;
    }
    return t;
}

using Ids = std::vector<uint32_t>;

TEST(ProcStatParse, FieldsAfterAnOddCommand) {
    struct Case {
        const char* text;
        bool ok;
        const char* comm;
        uint32_t ppid, sid;
        uint64_t start;
        bool kernel;
    };
    const Case cases[] = {
        {"42 (bash) S 7 42 42 34816 99 4194304 1 2 3 4 5 6 7 8 20 0 1 0 123456 0 0\n", true, "bash",
         7, 42, 123456, false},
        // A name holding blanks and ')' ends at the last ')'.
        {"43 (a) b) (c) R 1 5 6 -1 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 77 0\n", true, "a) b) (c", 1,
         6, 77, false},
        {"2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 5 0\n", true, "kthreadd", 0, 0,
         5, true},
        {"44 (x) S 1 2 3", false, "", 0, 0, 0, false},  // cut before the start time
        {"45 x S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22", false, "", 0, 0, 0,
         false},
        {"", false, "", 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ProcStat st;
        ASSERT_EQ(ParseProcStat(c.text, st), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(st.comm, c.comm);
        EXPECT_EQ(st.ppid, c.ppid);
        EXPECT_EQ(st.sessionId, c.sid);
        EXPECT_EQ(st.startTime, c.start);
        EXPECT_EQ(st.IsKernelThread(), c.kernel);
    }
}

TEST(ChainProcessIds, Walks) {
    // 100 is the desktop shell under 1; 10 a terminal shell leading its session.
    struct Case {
        const char* what;
        ProcessTable table;
        uint32_t target, shell;
        std::set<uint32_t> never;
        Ids expected;
    };
    const Case cases[] = {
        {"parent is the shell: target and its first-child line only",
         MakeTable({{100, 1}, {200, 100}, {210, 200}, {220, 210}, {230, 200}}),
         200,
         100,
         {},
         {200, 210, 220}},
        {"launcher under the shell is ended first",
         MakeTable({{100, 1}, {150, 100}, {200, 150}, {210, 200}}),
         200,
         100,
         {},
         {150, 200, 210}},
        {"ancestors nearest first",
         MakeTable({{100, 1}, {120, 100}, {130, 120}, {200, 130}}),
         200,
         100,
         {},
         {130, 120, 200}},
        {"no shell: walk up to parent 0, PID 1 never ended",
         MakeTable({{1, 0}, {50, 1}, {200, 50}}),
         200,
         0,
         {1},
         {50, 200}},
        {"no shell: a parent missing from the table ends the walk",
         MakeTable({{50, 40}, {200, 50}}),
         200,
         0,
         {},
         {50, 40, 200}},
        {"session leader stops the walk below it",
         MakeTable({{1, 0}, {10, 1, 10}, {60, 10, 10}, {200, 60, 10}}),
         200,
         0,
         {1},
         {60, 200}},
        {"a target leading its own session: nothing above it (the terminal, sshd)",
         MakeTable({{1, 0}, {10, 1}, {200, 10, 200}, {210, 200, 200}}),
         200,
         0,
         {1},
         {200, 210}},
        {"the lowest-PID child of each generation, siblings left",
         MakeTable({{200, 1}, {300, 200}, {250, 200}, {260, 250}, {255, 250}}),
         200,
         1,
         {},
         {200, 250, 255}},
        {"cycle in the parent links going up",
         MakeTable({{200, 300}, {300, 400}, {400, 200}}),
         200,
         0,
         {},
         {300, 400, 200}},
        {"cycle going down (the walk up stopped at a session leader)",
         MakeTable({{200, 400}, {300, 200}, {400, 300, 400}}),
         200,
         0,
         {},
         {200, 300, 400}},
        {"a process that is its own parent", MakeTable({{200, 200}}), 200, 0, {}, {200}},
        {"target gone: still listed, its first child followed",
         MakeTable({{100, 1}, {210, 200}, {220, 210}}),
         200,
         100,
         {},
         {200, 210, 220}},
        {"target 0 ends nothing, although every orphan has parent 0",
         MakeTable({{1, 0}, {2, 0}, {30, 1}}),
         0,
         0,
         {},
         {}},
        // A listed "bash" or "systemd" must not cost the protected process's other first-child
        // lines one by one.
        {"a protected process cuts the chain: nothing beyond it is ended",
         MakeTable({{100, 1}, {150, 100}, {160, 150}, {200, 160}, {210, 200}, {220, 210}}),
         200,
         100,
         {160, 210},
         {200}},
        {"a protected target ends nothing",
         MakeTable({{1, 0}, {160, 1}, {200, 160}, {210, 200}}),
         160,
         0,
         {1, 160},
         {}},
        {"PID 1 as the target ends nothing, not even its first child",
         MakeTable({{1, 0}, {2, 1}, {3, 2}}),
         1,
         0,
         {1},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ChainProcessIds(c.table, c.target, c.shell, c.never), c.expected);
    }
}

// A program started from a panel, a file manager, a launcher or a terminal's server, none of them
// a session leader: the walk up stops below the launcher, which keeps running; a helper of the
// program that only shares an ordinary name is still ended.
TEST(ChainProcessIds, StopsBelowTheDesktopsLaunchers) {
    for (const char16_t* launcher :
         {u"xfce4-panel", u"nautilus", u"krunner", u"gnome-terminal-server", u"systemd",
          u"dbus-daemon", u"wezterm-gui", u"plasmashell"}) {
        SCOPED_TRACE(Utf16ToUtf8(launcher));
        const ProcessTable table = MakeTable({{1, 0, 0, u"systemd"},
                                              {50, 1, 50, u"session-leader"},
                                              {60, 50, 50, launcher},
                                              {70, 60, 50, u"helper"},
                                              {200, 70, 50, u"listed"},
                                              {210, 200, 50, u"child"}});
        EXPECT_EQ(ChainProcessIds(table, 200, 0, {1}), (Ids{70, 200, 210}));
    }
    EXPECT_FALSE(IsDesktopLauncherName(u"helper"));
    EXPECT_FALSE(IsDesktopLauncherName(u"xterm-evil"));
}

TEST(ProcessIdsOfFile, NameIgnoresCasePathDoesNot) {
    ProcessTable t = MakeTable({
        {10, 1, 0, u"evil.bin", u"/opt/x/Evil.bin"},
        {11, 1, 0, u"evil.bin", u"/opt/x/evil.bin"},  // path differs in case only
        {12, 1, 0, u"evil.bin", u""},                 // unreadable: matches by name
        {13, 1, 0, u"other", u"/opt/x/Evil.bin"},
        {14, 1, 0, u"evil.bin", u"/opt/x/Evil.bin"},
        {15, 1, 0, u"evil.bin", u""},  // exited below
    });
    t[15].hasExited = true;
    EXPECT_EQ(ProcessIdsOfFile(t, u"/opt/x/Evil.bin", u"EVIL.bin"), (Ids{10, 12, 14}));
    EXPECT_TRUE(ProcessIdsOfFile(t, u"", u"evil.bin").empty());
    EXPECT_TRUE(ProcessIdsOfFile(t, u"/opt/x/Evil.bin", u"").empty());
}

TEST(ProcessIdsOfFile, TheSameFileByAnotherPathIsMatchedAnotherFileIsNot) {
    // /bin -> /usr/bin: the process's path names the file the scan found by its other path.
    FileId found{8, 100, true};
    ProcessTable t = MakeTable({
        {10, 1, 0, u"evil", u"/usr/bin/evil"},
        {11, 1, 0, u"evil", u"/usr/bin/evil"},
        {12, 1, 0, u"evil", u"/home/u/evil"},
        {13, 1, 0, u"other", u"/usr/bin/other"},
    });
    t[10].exeId = found;
    t[11].exeId = FileId{8, 101, true};  // another file, same name
    t[12].exeId = FileId{9, 100, true};  // same inode on another device
    t[13].exeId = found;                 // a hard link: the name differs, the file is the same
    EXPECT_EQ(ProcessIdsOfFile(t, u"/bin/evil", u"evil", found), (Ids{10, 13}));
    EXPECT_TRUE(ProcessIdsOfFile(t, u"/bin/evil", u"evil", FileId{}).empty());
    EXPECT_TRUE(ProcessIdsOfFile(t, u"/bin/evil", u"evil", FileId{8, 100, false}).empty());
    // A path that can't be read matches by name unless the file it runs is known to differ.
    t[12].exePath.clear();
    t[11].exePath.clear();
    t[11].exeId = FileId{};
    EXPECT_EQ(ProcessIdsOfFile(t, u"/bin/evil", u"evil", found), (Ids{10, 11, 13}));
}

TEST(Snapshot, HoldsThisProcessAndNoKernelThread) {
    ProcessTable t;
    uint32_t shell = 12345;
    ASSERT_EQ(SnapshotProcesses(t, shell), 0);
    EXPECT_TRUE(shell == 0 || IsDesktopShellName(t.at(shell).exeName));
    const uint32_t self = static_cast<uint32_t>(getpid());
    ASSERT_TRUE(t.count(self));
    const ProcessEntry& me = t.at(self);
    EXPECT_EQ(me.parentProcessId, static_cast<uint32_t>(getppid()));
    EXPECT_EQ(me.exeName, u"process_table_test");
    EXPECT_EQ(me.exePathBytes, ReadExeLink(self));
    EXPECT_TRUE(me.exeId.SameFile(OwnExecutableId()));
    EXPECT_NE(me.startTime, 0u);
    EXPECT_FALSE(t.count(0));
    for (const auto& [pid, e] : t) {
        ProcStat st;
        if (ReadProcStat(pid, st)) {
            EXPECT_FALSE(st.IsKernelThread()) << pid;
        }
    }
}

TEST(ProtectedProcessIds, HoldInitThisProcessAndItsAncestors) {
    std::set<uint32_t> never = ProtectedProcessIds();
    EXPECT_TRUE(never.count(1));
    EXPECT_TRUE(never.count(static_cast<uint32_t>(getpid())));
    if (getppid() != 0) {
        EXPECT_TRUE(never.count(static_cast<uint32_t>(getppid())));
    }
}

TEST(EndProcesses, NeverSignalsWhatTheTableDoesNotName) {
    // Nothing here may reach a real process: PIDs missing from the table, PID 1 and this
    // process are refused before any descriptor is opened.
    const uint32_t self = static_cast<uint32_t>(getpid());
    ProcessTable t = MakeTable({{1, 0}, {self, 1}});
    // This process with its true start time, so only the guard for itself keeps it alive (PID 1
    // keeps a start time of 0: outside a namespace of its own a test must not depend on its
    // guard alone).
    ProcStat st;
    ASSERT_TRUE(ReadProcStat(self, st));
    t[self].startTime = st.startTime;
    EXPECT_EQ(EndProcesses(t, Ids{1, self, 999999}), 0);
}

}  // namespace
}  // namespace tovarek
