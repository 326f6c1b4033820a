#include "protect/process_watch.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/messages.h"
#include "platform/module_info.h"
#include "platform/mounts.h"
#include "platform/path_text.h"
#include "protect/exe_fingerprint_cache.h"
#include "protect/intercept_log.h"
#include "store/app_settings.h"
#include "store/core_state.h"
#include "store/database.h"
#include "store/scan_list.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_env.h"

namespace tovarek {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// 2026-01-01 00:00:00 UTC.
constexpr int64_t kNewYear = 1767225600;
constexpr char kListedMd5[] = "0123456789abcdef0123456789abcdef";
constexpr char kOwnMd5[] = "ffffffffffffffffffffffffffffffff";
constexpr char kUnlistedMd5[] = "11111111111111111111111111111111";

// Every call of the pass, in the order it came, as "line:<text>", "end:<pid>", "fit:<text>".
struct Events {
    std::vector<std::string> log;
};

// Canned processes and fingerprints; chains are recorded, never ended.
class FakeControl : public Processes {
public:
    FakeControl(Events& events) : m_events(events) {}
    int Snapshot(ProcessTable& table, uint32_t& shellProcessId) override {
        table = m_table;
        shellProcessId = m_nShell;
        return 0;
    }
    void EndChain(const ProcessTable& table, uint32_t pid, uint32_t shell,
                  const std::set<uint32_t>& protectedIds) override {
        EXPECT_EQ(table.size(), m_table.size());  // the pass's own snapshot
        EXPECT_EQ(shell, m_nShell);
        EXPECT_EQ(protectedIds, m_setProtected);
        m_events.log.push_back("end:" + std::to_string(pid));
    }
    std::set<uint32_t> ProtectedProcessIds() override { return m_setProtected; }
    WatchSetup Setup(std::function<int64_t()> clock) {
        WatchSetup setup;
        setup.processes = this;
        setup.packages = m_pPackages;
        setup.fingerprint = [this](const ProcessEntry& entry, char digestText[33]) {
            auto it = m_digests.find(entry.processId);
            if (it == m_digests.end()) return false;
            memcpy(digestText, it->second.c_str(), 33);
            return true;
        };
        setup.ownExecutable = m_ownId;
        setup.clock = std::move(clock);
        return setup;
    }
    void Add(uint32_t pid, std::u16string name, std::u16string path, const char* digest) {
        ProcessEntry e;
        e.processId = pid;
        e.parentProcessId = 1;
        e.exeName = std::move(name);
        e.exePath = std::move(path);
        m_table[pid] = e;
        if (digest) m_digests[pid] = digest;
    }
    ProcessTable m_table;
    std::map<uint32_t, std::string> m_digests;
    std::set<uint32_t> m_setProtected{1};
    FileId m_ownId{3, 77, true};
    uint32_t m_nShell = 7;
    PackageFiles* m_pPackages = nullptr;
    Events& m_events;
};

class RecordingSink : public HistorySink, public MessageSink {
public:
    RecordingSink(Events& events) : m_events(events) {}
    void AddHistoryLine(const std::u16string& line) override {
        m_events.log.push_back("line:" + Utf16ToUtf8(line));
    }
    void FitHistoryWidth(const std::u16string& longest) override {
        m_events.log.push_back("fit:" + Utf16ToUtf8(longest));
    }
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        m_vecPosted.push_back({message, wParam, lParam});
    }
    std::vector<Message> m_vecPosted;
    Events& m_events;
};

// A database with a few listed files, a pinned time zone and code page, and a program folder
// for the logs; all inside the test's own folder.
class WatchTest : public ::testing::Test {
protected:
    test::ScopedTestEnv testEnv;
    void SetUp() override {
        const char* tz = getenv("TZ");
        m_bHadTz = tz != nullptr;
        if (tz) m_strOldTz = tz;
        setenv("TZ", "UTC", 1);
        tzset();
        testEnv.codePage = kCodePageUtf8;
        testEnv.moduleDir = m_dir.path() + "/";
        m_app.m_strModuleDir = Utf8ToUtf16(m_dir.path() + "/");
        Database db;
        OpenDatabase(db);
        for (auto [md5, name] : std::initializer_list<std::pair<std::string, std::string>>{
                 {kListedMd5, "anything.bin"},
                 {"22222222222222222222222222222222", "Named.EXE"},
                 {"ABCDEFABCDEFABCDEFABCDEFABCDEFAB", "upper.bin"},
                 {kOwnMd5, "process_watch_test"}}) {
            ASSERT_EQ(
                Execute(db, "insert into blackmap values('" + md5 + "','" + name + "','','1')",
                        false),
                0);
        }
        CloseDatabase(db);
        m_app.m_bBlacklistStale = 1;
    }
    void TearDown() override {
        if (m_bHadTz)
            setenv("TZ", m_strOldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string Log(const char* date) const {
        return ReadFile(m_dir.File(std::string("log/pl") + date + ".log"));
    }

    TempDir m_dir{true};
    CoreState m_app;
    Events m_events;
    FakeControl m_control{m_events};
    RecordingSink m_sink{m_events};
    int64_t m_now = kNewYear + 13 * 3600 + 4 * 60 + 59;
    ProcessWatch m_watch{m_app, &m_sink, m_control.Setup([this] { return m_now; })};
    bool m_bHadTz = false;
    std::string m_strOldTz;
};

TEST_F(WatchTest, RecordsEveryMatchFirstThenEndsInAscendingPid) {
    const std::u16string own = Utf8ToUtf16(ModulePath());
    std::u16string ownUpper = own;
    for (char16_t& c : ownUpper) c = (c >= u'a' && c <= u'z') ? c - 32 : c;
    m_control.Add(50, u"unlisted", u"/opt/a/unlisted", kUnlistedMd5);
    m_control.Add(30, u"named.exe", u"/opt/a/named.exe", kUnlistedMd5);  // listed by name
    m_control.Add(10, u"x.bin", u"/opt/a/x.bin", kListedMd5);            // listed by content
    m_control.Add(40, u"process_watch_test", ownUpper, kOwnMd5);         // ourselves
    m_control.Add(45, u"process_watch_test", u"/elsewhere/process_watch_test", kOwnMd5);
    // Listed in capitals: taken as the fingerprint it names.
    m_control.Add(60, u"upper.bin2", u"/opt/a/u", "abcdefabcdefabcdefabcdefabcdefab");
    m_control.Add(70, u"gone", u"", nullptr);  // unreadable and unlisted
    m_control.Add(80, u"named.exe", u"", nullptr);
    m_control.m_table[80].hasExited = true;  // a zombie is never matched

    m_watch.RunProtectionPass();

    const std::string stamp = "[2026-01-01 13:04:59]终止进程：";
    const std::vector<std::string> expected = {
        "line:" + stamp + "x.bin",
        "line:" + stamp + "named.exe",
        "line:" + stamp + "process_watch_test",
        "line:" + stamp + "upper.bin2",
        "end:10",
        "end:30",
        "end:45",
        "end:60",
        "fit:" + stamp + "process_watch_test",
    };
    EXPECT_EQ(m_events.log, expected);
    EXPECT_EQ(
        m_app.m_lstInterceptions,
        (std::list<std::u16string>{u"x.bin", u"named.exe", u"process_watch_test", u"upper.bin2"}));
    EXPECT_EQ(Log("2026-01-01"),
              "[2026-01-01 13:04:59]/opt/a/x.bin\r\n"
              "[2026-01-01 13:04:59]/opt/a/named.exe\r\n"
              "[2026-01-01 13:04:59]/elsewhere/process_watch_test\r\n"
              "[2026-01-01 13:04:59]/opt/a/u\r\n");
    ASSERT_EQ(m_watch.historyIndex().size(), 4u);
    const ProcessEntry& kept = m_watch.historyIndex().at(Utf8ToUtf16(stamp) + u"x.bin");
    EXPECT_EQ(kept.exePath, u"/opt/a/x.bin");
    EXPECT_EQ(kept.spareText, Utf8ToUtf16(stamp) + u"x.bin");
}

// A listed process that runs an unmodified file of an installed package is left running and
// reported once per run; a copy of that file, and a package file that was changed, are ended.
TEST_F(WatchTest, UnmodifiedPackageFilesAreReportedOnceAndNeverEnded) {
    const std::string root = m_dir.File("root");
    for (const char* d : {"root", "root/usr", "root/usr/bin", "root/home", "root/var",
                          "root/var/lib", "root/var/lib/dpkg", "root/var/lib/dpkg/info"}) {
        ASSERT_EQ(mkdir(m_dir.File(d).c_str(), 0755), 0) << d;
    }
    // dpkg still records bin/ where bin links to usr/bin.
    ASSERT_EQ(symlink("usr/bin", (root + "/bin").c_str()), 0);
    WriteFile(root + "/usr/bin/tool", "tool");
    WriteFile(root + "/home/tool", "tool");
    WriteFile(root + "/usr/bin/named.exe", "changed since");
    WriteFile(root + "/var/lib/dpkg/status", "Package: tool\n");
    WriteFile(root + "/var/lib/dpkg/info/tool.md5sums",
              std::string(kListedMd5) + "  bin/tool\n22222222222222222222222222222222  " +
                  "usr/bin/named.exe\n");
    PackageFiles packages(root);
    m_control.m_pPackages = &packages;
    ProcessWatch watch{m_app, &m_sink, m_control.Setup([this] { return m_now; })};
    m_control.Add(10, u"tool", Utf8ToUtf16(root + "/usr/bin/tool"), kListedMd5);
    m_control.Add(20, u"tool", Utf8ToUtf16(root + "/home/tool"), kListedMd5);
    m_control.Add(30, u"named.exe", Utf8ToUtf16(root + "/usr/bin/named.exe"), kUnlistedMd5);
    m_control.m_table[10].exeId = FileIdOfPath(root + "/usr/bin/tool");
    m_control.m_table[20].exeId = FileIdOfPath(root + "/home/tool");
    m_control.m_table[30].exeId = FileIdOfPath(root + "/usr/bin/named.exe");

    for (int pass = 0; pass < 3; ++pass) watch.RunProtectionPass();

    const std::string stamp = "[2026-01-01 13:04:59]";
    const std::vector<std::string> onePass = {
        "line:" + stamp + "终止进程：tool",
        "line:" + stamp + "终止进程：named.exe",
        "end:20",
        "end:30",
        "fit:" + stamp + "终止进程：named.exe",
    };
    std::vector<std::string> expected = {"line:" + stamp + "系统文件，未终止：" + root +
                                         "/usr/bin/tool"};
    for (int pass = 0; pass < 3; ++pass) {
        expected.insert(expected.end(), onePass.begin(), onePass.end());
    }
    EXPECT_EQ(m_events.log, expected);
    EXPECT_EQ(ReadFile(m_dir.File("log/pl2026-01-01.log"))
                  .find(stamp + "系统文件，未终止：" + root + "/usr/bin/tool\r\n" + stamp + root +
                        "/home/tool\r\n"),
              0u);
    EXPECT_EQ(packages.loads(), 1u);

    // dpkg changed something: the records are read again, and the file is still not ended.
    WriteFile(root + "/var/lib/dpkg/status", "Package: tool\nPackage: other\n");
    m_events.log.clear();
    watch.RunProtectionPass();
    EXPECT_EQ(m_events.log, onePass);
    EXPECT_EQ(packages.loads(), 2u);
}

TEST_F(WatchTest, ProtectedProcessesAndTheProgramByAnyPathAreNeverMatched) {
    // A listed "systemd" or "bash" must not be logged every pass nor cost PID 1's children.
    m_control.Add(1, u"named.exe", u"/sbin/named.exe", kListedMd5);
    m_control.Add(20, u"named.exe", u"/usr/bin/named.exe", kListedMd5);  // an ancestor of ours
    m_control.m_setProtected = {1, 20};
    // The program itself through a directory link: another path, the same file.
    m_control.Add(30, u"x.bin", u"/alias/dir/x.bin", kOwnMd5);
    m_control.m_table[30].exeId = m_control.m_ownId;
    m_control.Add(31, u"x.bin", u"/opt/a/x.bin", kListedMd5);
    m_control.m_table[31].exeId = FileId{3, 78, true};  // a copy: another file

    m_watch.RunProtectionPass();
    const std::string stamp = "[2026-01-01 13:04:59]终止进程：";
    EXPECT_EQ(m_events.log, (std::vector<std::string>{"line:" + stamp + "x.bin", "end:31",
                                                      "fit:" + stamp + "x.bin"}));
    EXPECT_EQ(m_app.m_lstInterceptions, (std::list<std::u16string>{u"x.bin"}));
    EXPECT_EQ(Log("2026-01-01"), "[2026-01-01 13:04:59]/opt/a/x.bin\r\n");
}

TEST_F(WatchTest, EqualLinesShareOneHistoryEntryAndEveryPassRepeats) {
    m_control.Add(20, u"named.exe", u"/a/named.exe", nullptr);
    m_control.Add(21, u"named.exe", u"/b/named.exe", nullptr);
    m_watch.RunProtectionPass();
    ASSERT_EQ(m_watch.historyIndex().size(), 1u);
    EXPECT_EQ(m_watch.historyIndex().begin()->second.processId, 21u);

    // A process that would not end is found, listed and logged again at the next pass.
    m_now += 3;
    m_events.log.clear();
    m_watch.RunProtectionPass();
    EXPECT_EQ(std::count_if(m_events.log.begin(), m_events.log.end(),
                            [](const std::string& e) { return e.rfind("line:", 0) == 0; }),
              2);
    EXPECT_EQ(m_watch.historyIndex().size(), 2u);
    const std::string log = Log("2026-01-01");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
}

TEST_F(WatchTest, TimerPostsANoticeOnlyWhenSomethingWasEnded) {
    m_control.Add(50, u"unlisted", u"/opt/a/unlisted", kUnlistedMd5);
    m_app.m_lstInterceptions.push_back(u"left over");
    m_watch.OnWatchTimer(m_sink);
    EXPECT_TRUE(m_sink.m_vecPosted.empty());
    EXPECT_TRUE(m_app.m_lstInterceptions.empty());
    EXPECT_TRUE(m_events.log.empty());  // no lines, no refit
    EXPECT_FALSE(test::FileExists(m_dir.File("log")));

    m_control.Add(51, u"NAMED.EXE", u"", nullptr);
    m_watch.OnWatchTimer(m_sink);
    ASSERT_EQ(m_sink.m_vecPosted.size(), 1u);
    EXPECT_EQ(m_sink.m_vecPosted[0].message, WM_SHOW_NOTICE);
    EXPECT_EQ(m_sink.m_vecPosted[0].wParam, 1u);
    EXPECT_EQ(m_sink.m_vecPosted[0].lParam, 0);
    // The name is matched lower-cased; an unreadable path leaves only the stamp in the log.
    EXPECT_EQ(Log("2026-01-01"), "[2026-01-01 13:04:59]\r\n");
}

TEST_F(WatchTest, LogLinesAcrossMidnightGoToEachDaysFile) {
    WriteInterceptLog(m_app, u"/opt/before", kNewYear - 1);
    WriteInterceptLog(m_app, u"/opt/after\nforged line", kNewYear);
    WriteInterceptLog(m_app, u"/opt/病毒.bin", kNewYear + 86399);
    EXPECT_EQ(Log("2025-12-31"), "[2025-12-31 23:59:59]/opt/before\r\n");
    EXPECT_EQ(Log("2026-01-01"),
              "[2026-01-01 00:00:00]/opt/after\\nforged line\r\n"
              "[2026-01-01 23:59:59]/opt/病毒.bin\r\n");
    EXPECT_EQ(BuildHistoryLine(kNewYear - 1, u"a.bin"), u"[2025-12-31 23:59:59]终止进程：a.bin");
}

// In a GBK locale the path still goes out as the bytes the file system holds: the GBK name of
// that locale (read as escaped bytes) and a UTF-8 name alike.
TEST_F(WatchTest, LogInAGbkLocaleKeepsTheNamesBytes) {
    testEnv.codePage = kCodePageGbk;
    WriteInterceptLog(m_app, PathToUtf16("/opt/\xB2\xA1\xB6\xBE"), kNewYear);  // 病毒 in GBK
    WriteInterceptLog(m_app, u"/opt/病毒", kNewYear);
    EXPECT_EQ(Log("2026-01-01"),
              "[2026-01-01 00:00:00]/opt/\xB2\xA1\xB6\xBE\r\n"
              "[2026-01-01 00:00:00]/opt/\xE7\x97\x85\xE6\xAF\x92\r\n");
}

TEST_F(WatchTest, LogFolderWithANonAsciiNameIsFoundInAGbkLocale) {
    // The folder is decoded from its bytes and encoded back to the same bytes, whatever the log's
    // code page; re-encoding it in GBK would name a folder that doesn't exist.
    const std::string folder = m_dir.File("\xE6\x89\xAB\xE6\x8F\x8F");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    testEnv.moduleDir = folder;
    CoreState app;
    AppSettings settings;
    InitCoreState(app, &settings);
    testEnv.codePage = kCodePageGbk;
    WriteInterceptLog(app, u"/opt/x", kNewYear);
    EXPECT_EQ(ReadFile(folder + "/log/pl2026-01-01.log"), "[2026-01-01 00:00:00]/opt/x\r\n");
}

TEST_F(WatchTest, UnwritableLogFolderLosesTheLineOnly) {
    WriteFile(m_dir.File("log"), "a file where the folder should be");
    m_control.Add(10, u"x.bin", u"/opt/a/x.bin", kListedMd5);
    m_watch.RunProtectionPass();
    EXPECT_EQ(m_app.m_lstInterceptions.size(), 1u);
    EXPECT_EQ(m_watch.historyIndex().size(), 1u);
}

TEST(ExeFingerprintCache, ReusesOnlyWhileTheFileIsUnchanged) {
    TempDir dir;
    const std::string path = dir.File("exe");
    WriteFile(path, "abc");
    ExeFingerprintCache cache;
    char digest[33];
    ASSERT_TRUE(cache.Fingerprint(path, digest));
    EXPECT_STREQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    ASSERT_TRUE(cache.Fingerprint(path, digest));
    EXPECT_EQ(cache.filesRead(), 1u);

    // Same size, modification time put back: only the change time tells, and it must.
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    WriteFile(path, "abd");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_TRUE(cache.Fingerprint(path, digest));
    EXPECT_EQ(cache.filesRead(), 2u);
    EXPECT_STRNE(digest, "900150983cd24fb0d6963f7d28e17f72");

    // An entry no pass used is dropped; a missing file is a failure, not a stale reuse.
    cache.EndPass();
    EXPECT_EQ(cache.size(), 1u);
    cache.EndPass();
    EXPECT_EQ(cache.size(), 0u);
    memcpy(digest, "untouched", 10);
    EXPECT_FALSE(cache.Fingerprint(dir.File("missing"), digest));
    EXPECT_STREQ(digest, "untouched");
}

// A large file is read aside: until its fingerprint is there it counts as unreadable, and a
// small file asked meanwhile is answered at once; a change sends the large one aside again.
TEST(ExeFingerprintCache, ALargeFileIsReadAsideAndNeverHoldsUpTheOthers) {
    TempDir dir;
    const std::string large = dir.File("large");
    WriteFile(large, std::string(4096, 'a'));
    WriteFile(dir.File("small"), "abc");
    ExeFingerprintCache cache(nullptr, 1024);
    char digest[33];
    EXPECT_FALSE(cache.Fingerprint(large, digest));
    ASSERT_TRUE(cache.Fingerprint(dir.File("small"), digest));
    EXPECT_STREQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    auto readAside = [&] {
        for (int i = 0; i < 1000; ++i) {
            if (cache.Fingerprint(large, digest)) return true;
            usleep(5000);
        }
        return false;
    };
    ASSERT_TRUE(readAside());
    EXPECT_STREQ(digest, "21a199c53f422a380e20b162fb6ebe9c");
    EXPECT_EQ(cache.filesRead(), 2u);
    ASSERT_TRUE(cache.Fingerprint(large, digest)) << "kept once read";
    EXPECT_EQ(cache.filesRead(), 2u);

    usleep(20000);  // past the file system's coarse clock tick: the change time moves
    WriteFile(large, std::string(4096, 'b'));
    EXPECT_FALSE(cache.Fingerprint(large, digest));
    ASSERT_TRUE(readAside());
    EXPECT_STREQ(digest, "bdb166b6061ee9331efe719dcee62b41");
    EXPECT_EQ(cache.filesRead(), 3u);
}

// What the watch read is there for the scan and the next run, but only from disks whose change
// times prove a file unchanged; a RAM disk's executables stay with the watch.
TEST(ExeFingerprintCache, SharedWithTheScanOnlyFromDisksThatKeepChangeTimes) {
    // In the test's build folder, which lies on the machine's disk.
    char disk[] = "exe-cache-XXXXXX";
    ASSERT_NE(mkdtemp(disk), nullptr);
    const std::string onDisk = std::string(disk) + "/exe";
    WriteFile(onDisk, "abc");
    struct statfs sfs;
    const bool diskKeeps = statfs(disk, &sfs) == 0 && KeepsChangeTimeMagic(sfs.f_type);
    FingerprintCache shared(100, 0);
    char digest[33];
    ExeFingerprintCache first(&shared);
    ASSERT_TRUE(first.Fingerprint(onDisk, digest));
    ExeFingerprintCache next(&shared);  // the next run
    ASSERT_TRUE(next.Fingerprint(onDisk, digest));
    EXPECT_STREQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    unlink(onDisk.c_str());
    rmdir(disk);
    if (!diskKeeps) GTEST_SKIP() << "the build folder's file system keeps no change times";
    EXPECT_EQ(next.filesRead(), 0u);
    EXPECT_EQ(shared.Size(), 1u);

    char ram[] = "/dev/shm/tovarek-exe-XXXXXX";
    if (statfs("/dev/shm", &sfs) != 0 || KeepsChangeTimeMagic(sfs.f_type) || !mkdtemp(ram)) {
        GTEST_SKIP() << "no RAM disk at /dev/shm";
    }
    const std::string inRam = std::string(ram) + "/exe";
    WriteFile(inRam, "abc");
    ASSERT_TRUE(first.Fingerprint(inRam, digest));
    EXPECT_EQ(shared.Size(), 1u);
    unlink(inRam.c_str());
    rmdir(ram);
}

TEST_F(WatchTest, SharedBlacklistIsRebuiltOnlyWhenTheIndexChanged) {
    BlacklistView view;
    GetSharedBlacklist(m_app, view);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), 4u);
    EXPECT_TRUE(view->ContainsName(u"named.exe"));
    const ScanList* first = view.get();
    GetSharedBlacklist(m_app, view);
    EXPECT_EQ(view.get(), first);

    // Another user reloads the index after an import: the next call sees it.
    BlacklistView held = view;
    {
        Database db;
        OpenDatabase(db);
        Execute(db,
                "insert into blackmap values('33333333333333333333333333333333','New.bin','','1')",
                false);
    }
    m_app.m_bBlacklistStale = 1;
    BlacklistMap copy;
    GetBlacklist(m_app, copy);
    GetSharedBlacklist(m_app, view);
    EXPECT_NE(view.get(), first);
    EXPECT_TRUE(view->ContainsName(u"new.bin"));
    EXPECT_EQ(held->size(), 4u);  // a holder's view never changes under it
}

// Names that would reorder the text or forge a line show escaped in the history line and the
// log; the entry behind the line keeps the real path, which the page opens or deletes.
TEST_F(WatchTest, HostileNamesShowAsWhatTheyAre) {
    const std::u16string name = u"c\u202egpj.exe\n[2026-01-01 00:00:00]\u7ec8\u6b62";
    const std::u16string path = u"/opt/x\x1b[2J/" + name;
    m_control.Add(30, name, path, kListedMd5);
    m_watch.RunProtectionPass();
    const std::string shown = "c\\u202egpj.exe\\n[2026-01-01 00:00:00]终止";
    ASSERT_GE(m_events.log.size(), 1u);
    EXPECT_EQ(m_events.log[0], "line:[2026-01-01 13:04:59]终止进程：" + shown);
    EXPECT_EQ(Log("2026-01-01"), "[2026-01-01 13:04:59]/opt/x\\x1b[2J/" + shown + "\r\n");
    ASSERT_EQ(m_watch.historyIndex().size(), 1u);
    EXPECT_EQ(m_watch.historyIndex().begin()->second.exePath, path);
}

// A list that cannot be read (locked by another process past the busy wait, then a FIFO in its
// place) is not an empty one: the pass says once that protection is paused, ends nothing, and
// tries again at every pass until the list can be read.
TEST_F(WatchTest, ProtectionPausesWhileTheListCannotBeReadAndResumesOnceItCan) {
    m_control.Add(30, u"anything.bin", u"/opt/a/anything.bin", kListedMd5);
    const std::string paused = "line:[2026-01-01 13:04:59]列表读取失败，保护暂停";
    {
        Database holder;
        OpenDatabase(holder);
        ASSERT_EQ(Execute(holder, "begin exclusive transaction;", false), 0);
        EXPECT_FALSE(m_watch.RunProtectionPass());
        Execute(holder, "commit transaction;", false);
    }
    ASSERT_EQ(rename(kDatabaseFileName, "kept.db"), 0);
    ASSERT_EQ(mkfifo(kDatabaseFileName, 0600), 0);
    EXPECT_FALSE(m_watch.RunProtectionPass());
    EXPECT_EQ(m_events.log, std::vector<std::string>{paused}) << "said once, nothing ended";
    EXPECT_TRUE(m_app.m_lstInterceptions.empty());
    ASSERT_EQ(unlink(kDatabaseFileName), 0);
    ASSERT_EQ(rename("kept.db", kDatabaseFileName), 0);
    EXPECT_TRUE(m_watch.RunProtectionPass());
    ASSERT_EQ(m_events.log.size(), 4u);
    EXPECT_EQ(m_events.log[2], "end:30");
}

}  // namespace
}  // namespace tovarek
