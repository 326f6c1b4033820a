// Real processes, ended for real. Every process here is started by the test inside a PID
// namespace of its own (the binary re-runs itself under `unshare --pid --fork --mount-proc`), so
// nothing outside can be reached; when the namespace's first process ends, the kernel ends the
// rest.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "platform/module_info.h"
#include "platform/proc_reader.h"
#include "protect/intercept_log.h"
#include "protect/process_watch.h"
#include "scan/file_fingerprint.h"
#include "scan/process_table.h"
#include "scan/scan_session.h"
#include "store/core_state.h"
#include "store/database.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

constexpr char kInsideFlag[] = "TOVAREK_IN_OWN_PID_NAMESPACE";

std::string RunCaptured(const std::string& command, int& status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    status = pclose(p);
    return out;
}

// Outside: re-run the named test in a new PID namespace and report its result here.
void RunInsideOwnNamespace(const char* testName) {
    int status = 0;
    RunCaptured("unshare --pid --fork --mount-proc true 2>&1", status);
    if (status != 0) {
        GTEST_SKIP() << "cannot make a PID namespace here (unshare --pid --fork --mount-proc "
                        "refused); real processes are only ended inside one, so this is skipped";
    }
    std::string self = ReadExeLink(static_cast<uint32_t>(getpid()));
    std::string out =
        RunCaptured(std::string(kInsideFlag) + "=1 unshare --pid --fork --mount-proc '" + self +
                        "' --gtest_filter=" + testName + " 2>&1",
                    status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// Copy of bash with its own trailing bytes: it runs as bash does but has its own fingerprint.
void MakeExecutable(const std::string& path, const std::string& tag) {
    std::string bytes = test::ReadFile("/bin/bash");
    ASSERT_FALSE(bytes.empty());
    bytes += "\n" + tag + "\n";
    test::WriteFile(path, bytes);
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

pid_t Start(const std::vector<std::string>& argv) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void ReapAll() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

bool IsAlive(uint32_t pid) {
    ProcStat st;
    return ReadProcStat(pid, st) && st.state != 'Z';
}

// Waits until the table holds `count` processes besides this one, with the names given.
ProcessTable WaitForTable(size_t count, const std::multiset<std::u16string>& names) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        ReapAll();
        ProcessTable t;
        uint32_t shell = 0;
        SnapshotProcesses(t, shell);
        t.erase(static_cast<uint32_t>(getpid()));
        std::multiset<std::u16string> seen;
        for (const auto& [pid, e] : t) seen.insert(e.exeName);
        if (t.size() == count && seen == names) return t;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string seen;
    ProcessTable t;
    uint32_t shell = 0;
    SnapshotProcesses(t, shell);
    for (const auto& [pid, e] : t) seen += " " + std::to_string(pid) + ":" + Utf16ToUtf8(e.exeName);
    ADD_FAILURE() << "the processes did not come up; running:" << seen;
    return {};
}

uint32_t Find(const ProcessTable& t, std::u16string_view name, uint32_t parent) {
    for (const auto& [pid, e] : t) {
        if (e.exeName == name && e.parentProcessId == parent) return pid;
    }
    return 0;
}

bool WaitGone(uint32_t pid) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        ReapAll();
        if (!IsAlive(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class Recorder : public HistorySink {
public:
    void AddHistoryLine(const std::u16string& line) override { m_vecLines.push_back(line); }
    void FitHistoryWidth(const std::u16string&) override {}
    std::vector<std::u16string> m_vecLines;
};

TEST(RealProcesses, ChainsFilesAndTheWatch) {
    if (!getenv(kInsideFlag)) {
        RunInsideOwnNamespace("RealProcesses.ChainsFilesAndTheWatch");
        return;
    }
    ASSERT_EQ(getpid(), 1) << "must run as the namespace's first process";
    test::ScopedTestEnv testEnv;
    testEnv.codePage = kCodePageUtf8;
    test::TempDir dir(true);
    const std::string d = dir.path();
    ASSERT_EQ(mkdir((d + "/other").c_str(), 0755), 0);
    MakeExecutable(d + "/launcher", "launcher");
    MakeExecutable(d + "/target", "target");
    MakeExecutable(d + "/other/target", "target");  // same content, another path
    MakeExecutable(d + "/child", "child");
    MakeExecutable(d + "/namematch", "different content");
    // launcher -> target (then a sibling sleep); target -> child (then a second, spared
    // child); child ignores SIGTERM, and so does its grandchild, which inherits that.
    test::WriteFile(d + "/launcher.sh", d + "/target " + d + "/target.sh &\nsleep 1000 &\nwait\n");
    test::WriteFile(d + "/target.sh", d + "/child " + d + "/child.sh &\nsleep 1000 &\nwait\n");
    test::WriteFile(d + "/child.sh", "trap '' TERM\nsleep 1000 &\nwait\n");
    test::WriteFile(d + "/idle.sh", "sleep 1000 &\nwait\n");

    Start({d + "/launcher", d + "/launcher.sh"});
    ProcessTable t =
        WaitForTable(6, {u"launcher", u"target", u"child", u"sleep", u"sleep", u"sleep"});
    Start({d + "/other/target", d + "/idle.sh"});
    t = WaitForTable(
        8, {u"launcher", u"target", u"target", u"child", u"sleep", u"sleep", u"sleep", u"sleep"});
    const uint32_t launcher = Find(t, u"launcher", 1);
    const uint32_t target = Find(t, u"target", launcher);
    const uint32_t launcherSleep = Find(t, u"sleep", launcher);
    const uint32_t child = Find(t, u"child", target);
    const uint32_t targetSleep = Find(t, u"sleep", target);
    const uint32_t grandchild = Find(t, u"sleep", child);
    const uint32_t otherTarget = Find(t, u"target", 1);
    const uint32_t otherSleep = Find(t, u"sleep", otherTarget);
    ASSERT_TRUE(launcher && target && launcherSleep && child && targetSleep && grandchild &&
                otherTarget && otherSleep);
    ASSERT_LT(child, targetSleep);  // the child is the first child

    // The file's processes: the chain from the launcher down the first children.
    uint32_t shell = 0;
    SystemProcesses().EndProcessesOfFile(t, shell, Utf8ToUtf16(d + "/target"), u"TARGET",
                                         FileIdOfPath(d + "/target"));
    for (uint32_t pid : {launcher, target, child, grandchild}) EXPECT_TRUE(WaitGone(pid)) << pid;
    for (uint32_t pid : {launcherSleep, targetSleep, otherTarget, otherSleep}) {
        EXPECT_TRUE(IsAlive(pid)) << pid;
    }

    // The watch: the copy at another path is ended by content, namematch by name; this test
    // binary is listed both ways and must survive without a trace.
    const pid_t named = Start({d + "/namematch", d + "/idle.sh"});
    t = WaitForTable(6, {u"target", u"namematch", u"sleep", u"sleep", u"sleep", u"sleep"});
    char targetMd5[33], ownMd5[33];
    ASSERT_TRUE(ComputeFileMd5((d + "/target").c_str(), targetMd5));
    ASSERT_TRUE(ComputeFileMd5("/proc/self/exe", ownMd5));
    {
        Database db;
        OpenDatabase(db);
        for (auto [md5, name] : std::initializer_list<std::pair<std::string, std::string>>{
                 {targetMd5, "unrelated"},
                 {"00000000000000000000000000000000", "NameMatch"},
                 {ownMd5, "process_namespace_test"}}) {
            ASSERT_EQ(
                Execute(db, "insert into blackmap values('" + md5 + "','" + name + "','','1')",
                        false),
                0);
        }
    }
    CoreState app;
    app.m_strModuleDir = Utf8ToUtf16(d + "/");
    app.m_bBlacklistStale = 1;
    Recorder history;
    ProcessWatch watch(app, &history);
    watch.RunProtectionPass();
    EXPECT_EQ(app.m_lstInterceptions, (std::list<std::u16string>{u"target", u"namematch"}));
    ASSERT_EQ(history.m_vecLines.size(), 2u);
    EXPECT_TRUE(WaitGone(otherTarget));
    EXPECT_TRUE(WaitGone(otherSleep));
    EXPECT_TRUE(WaitGone(static_cast<uint32_t>(named)));
    EXPECT_TRUE(IsAlive(launcherSleep));
    EXPECT_TRUE(IsAlive(targetSleep));
    const std::string log = test::ReadFile(InterceptLogPath(app.m_strModuleDir, NowSeconds()));
    EXPECT_NE(log.find("]" + d + "/other/target\r\n"), std::string::npos) << log;

    // Nothing left to end; nothing unchanged is read again.
    const uint64_t read = watch.cache().filesRead();
    history.m_vecLines.clear();
    watch.RunProtectionPass();
    EXPECT_TRUE(history.m_vecLines.empty());
    EXPECT_EQ(watch.cache().filesRead(), read);

    // A hard link under another name runs the same file: its identity decides, not its name. And
    // a PID whose start time is not the snapshot's (reused since) is never signalled.
    ASSERT_EQ(link((d + "/child").c_str(), (d + "/alias").c_str()), 0);
    const pid_t alias = Start({d + "/alias", d + "/idle.sh"});
    t = WaitForTable(4, {u"alias", u"sleep", u"sleep", u"sleep"});
    ProcessTable reused = t;
    reused[launcherSleep].startTime += 1;
    EXPECT_EQ(EndProcesses(reused, {launcherSleep}), 0);
    EXPECT_TRUE(IsAlive(launcherSleep));
    SystemProcesses().EndProcessesOfFile(t, shell, Utf8ToUtf16(d + "/child"), u"child",
                                         FileIdOfPath(d + "/child"));
    EXPECT_TRUE(WaitGone(static_cast<uint32_t>(alias)));
    EXPECT_TRUE(IsAlive(launcherSleep));

    // "删除所选" of a session on the system's own ender: what runs the found file now (started
    // after the scan) ends, and the file goes into quarantine.
    ASSERT_EQ(mkdir((d + "/scanned").c_str(), 0755), 0);
    MakeExecutable(d + "/scanned/found", "found");
    BlacklistMap names;
    names[u"ffffffffffffffffffffffffffffffff"].name = u"found";
    auto list = std::make_shared<ScanList>();
    list->Assign(names);
    ScanSessionSetup setup;
    setup.roots = {Utf8ToUtf16(d + "/scanned/")};
    setup.list = list;
    ScanSession session(std::move(setup), nullptr);
    session.Join();
    ASSERT_EQ(session.Findings().Size(), 1u);
    const pid_t found = Start({d + "/scanned/found", d + "/idle.sh"});
    WaitForTable(4, {u"found", u"sleep", u"sleep", u"sleep"});
    session.DeleteFindings({1});
    EXPECT_TRUE(WaitGone(static_cast<uint32_t>(found)));
    EXPECT_FALSE(test::FileExists(d + "/scanned/found"));
    EXPECT_EQ(session.Findings().Size(), 0u);

    // Delete-on-find on the system's processes: what runs the file ends as the scan finds it.
    MakeExecutable(d + "/scanned/found", "found");
    const pid_t onFind = Start({d + "/scanned/found", d + "/idle.sh"});
    WaitForTable(4, {u"found", u"sleep", u"sleep", u"sleep"});
    ScanSessionSetup deleting;
    deleting.roots = {Utf8ToUtf16(d + "/scanned/")};
    deleting.list = list;
    deleting.deleteOnFind = 1;
    ScanSession scan(std::move(deleting), nullptr);
    scan.Join();
    EXPECT_EQ(scan.Findings().Size(), 1u);
    EXPECT_TRUE(WaitGone(static_cast<uint32_t>(onFind)));
    EXPECT_FALSE(test::FileExists(d + "/scanned/found"));
    testEnv.codePage = 0;
}

}  // namespace
}  // namespace tovarek
