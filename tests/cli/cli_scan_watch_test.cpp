// ravlin-cli scan, ps and watch as a user runs them: real trees in the test's own folder, and
// real processes only inside a PID namespace of the test's own.
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "store/database.h"
#include "tests/cli/run_command.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::RunCommand;

// The texts of every scan log in `dir`/log, joined.
std::string ScanLogs(const test::TempDir& dir) {
    std::string all;
    DIR* logs = opendir(dir.File("log").c_str());
    if (!logs) return all;
    while (struct dirent* e = readdir(logs)) {
        if (strncmp(e->d_name, "sl", 2) == 0) all += test::ReadFile(dir.File("log/") + e->d_name);
    }
    closedir(logs);
    return all;
}

// A Ravlin.db in the current directory holding the given (md5, name) rows.
void MakeList(const std::vector<std::pair<std::string, std::string>>& rows) {
    Database db;
    OpenDatabase(db);
    ASSERT_TRUE(db.IsOpen());
    for (const auto& [md5, name] : rows) {
        ASSERT_EQ(
            Execute(db, "insert into blackmap values('" + md5 + "','" + name + "','','1')", false),
            0);
    }
}

bool CanUnsharePid() {
    return RunCommand("unshare --pid --fork --mount-proc true 2>/dev/null").exitCode == 0;
}

// A scan ends the processes that run what it finds: it runs only inside a PID namespace of the
// test's own, so no process outside can be reached.
std::string Isolated(const std::string& command) {
    return "unshare --pid --fork --mount-proc " + command;
}

TEST(CliScan, ReportsFindsByContentAndNameAndDeletesOnlyWhenAsked) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(mkdir(dir.File("tree").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("tree/sub").c_str(), 0755), 0);
    test::WriteFile(dir.File("tree/sub/payload.bin"), "abc");  // md5 900150...
    test::WriteFile(dir.File("tree/NAMED.EXE"), "anything");
    test::WriteFile(dir.File("tree/clean.txt"), "clean");
    MakeList({{"900150983cd24fb0d6963f7d28e17f72", "other.name"},
              {"00000000000000000000000000000000", "named.exe"}});

    auto first = RunCommand(Isolated(kCli + " scan " + dir.File("tree")));
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_NE(first.out.find(dir.File("tree/sub/payload.bin") + "\n"), std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find(dir.File("tree/NAMED.EXE") + "\n"), std::string::npos);
    EXPECT_NE(first.out.find("共扫描3个文件,危险文件2个"), std::string::npos) << first.out;
    EXPECT_TRUE(test::FileExists(dir.File("tree/sub/payload.bin"))) << "no --delete, no deletion";
    // The scan log beside the program, as the scan page writes it.
    std::string log = ScanLogs(dir);
    EXPECT_NE(log.find(dir.File("tree/sub/payload.bin") + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(dir.File("tree/NAMED.EXE") + "\r\n"), std::string::npos) << log;

    auto deleting = RunCommand(Isolated(kCli + " scan --delete " + dir.File("tree")));
    EXPECT_EQ(deleting.exitCode, 1);
    EXPECT_FALSE(test::FileExists(dir.File("tree/sub/payload.bin")));
    EXPECT_FALSE(test::FileExists(dir.File("tree/NAMED.EXE")));
    EXPECT_TRUE(test::FileExists(dir.File("tree/clean.txt")));
    EXPECT_NE(ScanLogs(dir).find(dir.File("tree/NAMED.EXE") + "(已删除)\r\n"), std::string::npos);

    const std::string logsBefore = ScanLogs(dir);
    auto clean = RunCommand(Isolated(kCli + " scan " + dir.File("tree")));
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_EQ(ScanLogs(dir), logsBefore) << "a scan without findings writes no log";
    EXPECT_NE(clean.out.find("共扫描1个文件,危险文件0个"), std::string::npos) << clean.out;
}

TEST(CliScan, BadRequestsExitWithTwoAndCreateNothing) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    EXPECT_EQ(RunCommand(kCli + " scan " + dir.path() + " 2>/dev/null").exitCode, 2);
    EXPECT_FALSE(test::FileExists(dir.File("Ravlin.db"))) << "a missing list is not created";
    MakeList({});
    EXPECT_EQ(RunCommand(kCli + " scan " + dir.File("nothing") + " 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunCommand(kCli + " scan 2>/dev/null").exitCode, 2);
}

TEST(CliScan, NothingCheckedIsNeverACleanResultAndTheListIsNeverChanged) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(mkdir(dir.File("tree").c_str(), 0755), 0);
    test::WriteFile(dir.File("tree/payload.bin"), "abc");
    test::WriteFile(dir.File("plain-file"), "x");
    MakeList({{"900150983cd24fb0d6963f7d28e17f72", "payload.bin"}});
    const std::string good = test::ReadFile("Ravlin.db");
    const std::string scan = Isolated(kCli + " scan " + dir.File("tree") + " 2>&1");
    struct Case {
        const char* what;
        std::string db;
    };
    const Case cases[] = {
        {"zero bytes", ""},
        {"truncated", good.substr(0, good.size() / 2)},
        {"foreign", std::string(8192, 'Z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFile("Ravlin.db", c.db);
        auto r = RunCommand(scan);
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_EQ(r.out.find("危险文件0个"), std::string::npos) << r.out;
        EXPECT_EQ(test::ReadFile("Ravlin.db"), c.db) << "the scan changed the list";
    }
    // An empty list checks nothing either.
    unlink("Ravlin.db");
    MakeList({});
    const std::string empty = test::ReadFile("Ravlin.db");
    EXPECT_EQ(RunCommand(scan).exitCode, 2);
    EXPECT_EQ(test::ReadFile("Ravlin.db"), empty);

    // A list locked by another connection past the busy time.
    unlink("Ravlin.db");
    test::WriteFile("Ravlin.db", good);
    {
        Database holder;
        OpenDatabase(holder);
        ASSERT_EQ(Execute(holder, "begin exclusive transaction;", false), 0);
        auto locked = RunCommand(scan);
        EXPECT_EQ(locked.exitCode, 2) << locked.out;
        Execute(holder, "rollback transaction;", false);
    }
    // A root that can't be opened as a directory.
    EXPECT_EQ(RunCommand(Isolated(kCli + " scan " + dir.File("plain-file") + " 2>&1")).exitCode, 2);
    // A kernel file system named as a root is refused, not reported clean (nothing under it is
    // read: the root is looked at and left).
    auto proc = RunCommand(Isolated(kCli + " scan /proc 2>&1"));
    EXPECT_EQ(proc.exitCode, 2) << proc.out;
    EXPECT_NE(proc.out.find("/proc/: "), std::string::npos) << proc.out;
    // And the good list still finds.
    EXPECT_EQ(RunCommand(scan).exitCode, 1);
}

// Folders left unwalked are said in the summary line and on stderr; with nothing found that is
// no clean result. A found name with a line break and a backslash is one escaped, marked line.
TEST(CliScan, FoldersTooDeepAreToldAndEscapedNamesStayOneLine) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(mkdir(dir.File("tree").c_str(), 0755), 0);
    std::string deep = dir.File("tree");
    for (int level = 0; level < 1030; ++level) {
        deep += "/d";
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    const std::string found = dir.File("tree/a\nb\\c.exe");
    test::WriteFile(found, "x");
    MakeList({{"00000000000000000000000000000000", "a\nb\\c.exe"}});
    auto run = RunCommand(Isolated(kCli + " scan " + dir.File("tree") + " 2>&1"));
    EXPECT_EQ(run.exitCode, 1) << run.out;
    const size_t line = run.out.find("\\" + dir.File("tree/a\\nb\\\\c.exe") + "\n");
    ASSERT_NE(line, std::string::npos) << run.out;
    EXPECT_TRUE(line == 0 || run.out[line - 1] == '\n') << run.out;
    EXPECT_NE(run.out.find(",无法扫描目录1个\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ravlin-cli: scan: 1 folders lie too deep and were not scanned\n"),
              std::string::npos)
        << run.out;
    unlink(found.c_str());
    auto nothing = RunCommand(Isolated(kCli + " scan " + dir.File("tree") + " 2>/dev/null"));
    EXPECT_EQ(nothing.exitCode, 2) << nothing.out;
    EXPECT_NE(nothing.out.find("共扫描0个文件,危险文件0个"), std::string::npos) << nothing.out;
}

// The scan never ends its own launch chain: a listed program that runs the scan over its own
// folder is found, and lives on to see the scan's exit code.
TEST(CliScan, AListedProgramRunningTheScanIsSpared) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(mkdir(dir.File("tree").c_str(), 0755), 0);
    const std::string shell = dir.File("tree/listed-sh");
    test::WriteFile(shell, test::ReadFile("/bin/sh"));
    ASSERT_EQ(chmod(shell.c_str(), 0755), 0);
    MakeList({{"00000000000000000000000000000000", "listed-sh"}});
    auto run = RunCommand(
        Isolated(shell + " -c '" + kCli + " scan " + dir.File("tree") + "; echo scan-exit=$?'"));
    EXPECT_NE(run.out.find(shell + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("scan-exit=1\n"), std::string::npos) << run.out;
}

TEST(CliScan, NamesThatAreNotUtf8AreOpenedAndPrintedByTheirBytes) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    const std::string root = dir.File("r\xE9sum\xE9");  // Latin-1, not UTF-8
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    test::WriteFile(root + "/a\xFF.bin", "abc");
    test::WriteFile(root + "/a\xFE.bin", "clean");  // the same text if bytes were replaced
    MakeList({{"900150983cd24fb0d6963f7d28e17f72", "listed.bin"}});
    auto r = RunCommand(Isolated(kCli + " scan '" + root + "'"));
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find(root + "/a\xFF.bin\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(root + "/a\xFE.bin"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("共扫描2个文件,危险文件1个"), std::string::npos) << r.out;
}

// Lines of `text`, split at line feeds (the last one ending the text).
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(text.substr(pos, end - pos));
    return lines;
}

TEST(CliQuarantine, ScanDeleteMovesInAndListRestoreAndPurgeAnswerForEachItem) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(mkdir(dir.File("tree").c_str(), 0755), 0);
    const std::string payload = dir.File("tree/pay\\load\n.bin");
    test::WriteFile(payload, "abc");
    test::WriteFile(dir.File("tree/NAMED.EXE"), "anything");
    MakeList({{"900150983cd24fb0d6963f7d28e17f72", "other.name"},
              {"00000000000000000000000000000000", "named.exe"}});
    const std::string err = " 2>" + dir.File("err.txt");

    // No quarantine can be made (a file holds its name): nothing is deleted, and both the
    // command and the scan log say why.
    test::WriteFile(dir.File("quarantine"), "in the way");
    auto blocked = RunCommand(Isolated(kCli + " scan --delete " + dir.File("tree") + err));
    EXPECT_EQ(blocked.exitCode, 2);
    EXPECT_TRUE(test::FileExists(payload));
    EXPECT_TRUE(test::FileExists(dir.File("tree/NAMED.EXE")));
    EXPECT_NE(test::ReadFile(dir.File("err.txt"))
                  .find(dir.File("tree/NAMED.EXE") +
                        ": not moved into the quarantine, left in place: cannot write to the "
                        "quarantine folder"),
              std::string::npos)
        << test::ReadFile(dir.File("err.txt"));
    EXPECT_NE(ScanLogs(dir).find(dir.File("tree/NAMED.EXE") + "(未隔离：无法写入隔离区)\r\n"),
              std::string::npos)
        << ScanLogs(dir);
    ASSERT_EQ(unlink(dir.File("quarantine").c_str()), 0);

    auto moving = RunCommand(Isolated(kCli + " scan --delete " + dir.File("tree")));
    EXPECT_EQ(moving.exitCode, 1);
    EXPECT_FALSE(test::FileExists(payload));
    EXPECT_FALSE(test::FileExists(dir.File("tree/NAMED.EXE")));

    // One line per item: id, time, size, matched entry, path (escaped as scan prints it).
    auto list = RunCommand(kCli + " quarantine list");
    EXPECT_EQ(list.exitCode, 0);
    std::map<std::string, std::string> idOfPath;
    for (const std::string& line : SplitLines(list.out)) {
        std::vector<std::string> fields;
        for (size_t pos = 0, tab;; pos = tab + 1) {
            tab = fields.size() < 4 ? line.find('\t', pos) : std::string::npos;
            fields.push_back(line.substr(pos, tab == std::string::npos ? tab : tab - pos));
            if (tab == std::string::npos) break;
        }
        ASSERT_EQ(fields.size(), 5u) << line;
        EXPECT_EQ(fields[0].size(), 16u) << line;
        EXPECT_EQ(fields[1].size(), 19u) << line;  // 2026-01-01 13:00:00
        idOfPath[fields[4]] = fields[0];
        if (fields[4] == dir.File("tree/NAMED.EXE")) {
            EXPECT_EQ(fields[2] + " " + fields[3], "8 named.exe");
        } else {
            EXPECT_EQ(fields[4], dir.File("tree/pay\\\\load\\n.bin"));
            EXPECT_EQ(fields[2] + " " + fields[3], "3 900150983cd24fb0d6963f7d28e17f72");
        }
    }
    ASSERT_EQ(idOfPath.size(), 2u) << list.out;
    const std::string named = idOfPath[dir.File("tree/NAMED.EXE")];

    test::WriteFile(dir.File("tree/NAMED.EXE"), "newcomer");
    auto refused = RunCommand(kCli + " quarantine restore " + named + err);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(test::ReadFile(dir.File("err.txt")).find("a file already exists there"),
              std::string::npos);
    EXPECT_EQ(test::ReadFile(dir.File("tree/NAMED.EXE")), "newcomer");
    auto noFolder = RunCommand(kCli + " quarantine restore " + named + " --to " +
                               dir.File("missing/NAMED.EXE") + err);
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(test::ReadFile(dir.File("err.txt")).find("the folder does not exist"),
              std::string::npos);
    ASSERT_EQ(unlink(dir.File("tree/NAMED.EXE").c_str()), 0);
    auto restored = RunCommand(kCli + " quarantine restore " + named);
    EXPECT_EQ(restored.exitCode, 0);
    EXPECT_EQ(restored.out, dir.File("tree/NAMED.EXE") + "\n");
    EXPECT_EQ(test::ReadFile(dir.File("tree/NAMED.EXE")), "anything");

    const std::string other = idOfPath[dir.File("tree/pay\\\\load\\n.bin")];
    EXPECT_EQ(RunCommand(kCli + " quarantine purge --older-than 1").out, "") << "not a day old";
    auto purged = RunCommand(kCli + " quarantine purge " + other + " " + named + err);
    EXPECT_EQ(purged.exitCode, 1) << "the restored item is gone already";
    EXPECT_EQ(purged.out, other + "\n");
    EXPECT_EQ(RunCommand(kCli + " quarantine list").out, "");
    for (const char* bad : {"", " bogus", " purge --older-than x", " purge", " restore",
                            " restore a b", " restore a --to", " list x"}) {
        EXPECT_EQ(RunCommand(kCli + " quarantine" + bad + err).exitCode, 2) << bad;
    }
}

// A list that is a FIFO, a folder or a damaged file is refused at once, by scan and watch alike:
// exit 2 with a message, never a hang on the FIFO's open and never a clean result.
TEST(CliScanWatch, AListThatCannotBeReadIsRefusedAtOnce) {
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(mkdir(dir.File("tree").c_str(), 0755), 0);
    for (const char* kind : test::kUnreadableDatabaseKinds) {
        SCOPED_TRACE(kind);
        ASSERT_TRUE(test::MakeUnreadableDatabase(kDatabaseFileName, kind));
        // Nothing is listed, so nothing can be ended: no namespace needed.
        auto scan = RunCommand("timeout 20 " + kCli + " scan " + dir.File("tree") + " 2>&1");
        EXPECT_EQ(scan.exitCode, 2) << scan.out;
        EXPECT_NE(scan.out.find("cannot read the list"), std::string::npos) << scan.out;
        auto watch = RunCommand("timeout 20 " + kCli + " watch --once 2>&1");
        EXPECT_EQ(watch.exitCode, 2) << watch.out;
        EXPECT_NE(watch.out.find("]列表读取失败，保护暂停\n"), std::string::npos) << watch.out;
        EXPECT_NE(watch.out.find("ravlin-cli: watch: cannot read the list"), std::string::npos);
    }
}

TEST(CliPs, ListsThisTestWithItsParent) {
    auto ps = RunCommand(std::string(RAVLIN_CLI) + " ps");
    ASSERT_EQ(ps.exitCode, 0);
    // This process appears with its parent PID and its executable's lower-cased name.
    std::string own = std::to_string(getpid()) + "\t" + std::to_string(getppid()) + "\t";
    EXPECT_NE(ps.out.find(own), std::string::npos) << ps.out.substr(0, 2000);
    EXPECT_NE(ps.out.find("shell"), std::string::npos);
}

TEST(CliWatch, OnePassEndsAListedProgramInsideItsOwnNamespace) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    ASSERT_EQ(system("cp /bin/sleep ./tovarek-test-sleeper"), 0);
    MakeList({{"00000000000000000000000000000001", "TOVAREK-TEST-SLEEPER"}});
    // Inside the namespace the shell is PID 1, which is never ended; the sleeper is its child.
    auto run = RunCommand(
        "unshare --pid --fork --mount-proc sh -c '"
        "./tovarek-test-sleeper 30 & sleep 0.3; " +
        kCli +
        " watch --once; "
        "wait $!; echo \"sleeper-status=$?\"' 2>/dev/null");
    EXPECT_NE(run.out.find("tovarek-test-sleeper"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("sleeper-status=137"), std::string::npos) << run.out;
    // The interception log beside the program names the ended executable by its full path.
    char date[16];
    time_t now = time(nullptr);
    strftime(date, sizeof date, "%Y-%m-%d", localtime(&now));
    std::string log = test::ReadFile(dir.File("log/pl" + std::string(date) + ".log"));
    EXPECT_NE(log.find(dir.File("tovarek-test-sleeper")), std::string::npos) << log;
}

// An unmodified file of an installed package (as a dpkg database of the test's own records it)
// is reported but never ended or deleted; a copy of it, and a package file that was changed, are
// handled as any listed file.
TEST(CliScanWatch, PackageFileIsSparedBesideACopyThatIsHandled) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    const std::string root = dir.File("root");
    ASSERT_EQ(
        system(("mkdir -p " + root + "/usr/bin " + root + "/home " + root +
                "/var/lib/dpkg/info && ln -s usr/bin " + root +
                "/bin && { cat /bin/sleep; "
                "printf tovarek-package-test; } >" +
                root +
                "/usr/bin/tovarek-tool && chmod "
                "+x " +
                root + "/usr/bin/tovarek-tool && cp " + root + "/usr/bin/tovarek-tool " + root +
                "/home/ && cp " + root + "/usr/bin/tovarek-tool " + root + "/usr/bin/changed-tool")
                   .c_str()),
        0);
    const std::string md5 =
        RunCommand(kCli + " md5 " + root + "/usr/bin/tovarek-tool").out.substr(0, 32);
    test::WriteFile(root + "/var/lib/dpkg/status", "Package: tovarek-test\n");
    // dpkg records bin/ where bin links to usr/bin; changed-tool differs from what it recorded.
    test::WriteFile(root + "/var/lib/dpkg/info/tovarek-test.md5sums",
                    md5 +
                        "  bin/tovarek-tool\n00000000000000000000000000000000  "
                        "usr/bin/changed-tool\n");
    MakeList({{md5, "unrelated.name"}});

    auto watch = RunCommand(
        "unshare --pid --fork --mount-proc sh -c '" + root + "/usr/bin/tovarek-tool 30 & T=$!; " +
        root + "/home/tovarek-tool 30 & C=$!; sleep 0.3; " + kCli + " watch --dpkg-root " + root +
        " --once; kill -0 $T && echo tool-alive; wait $C; echo copy-status=$?; kill $T' "
        "2>/dev/null");
    EXPECT_NE(watch.out.find("]系统文件，未终止：" + root + "/usr/bin/tovarek-tool\n"),
              std::string::npos)
        << watch.out;
    EXPECT_NE(watch.out.find("]终止进程：tovarek-tool\n"), std::string::npos) << watch.out;
    EXPECT_NE(watch.out.find("tool-alive\ncopy-status=137\n"), std::string::npos) << watch.out;

    auto scan = RunCommand(Isolated(kCli + " scan --delete --dpkg-root " + root + " " + root +
                                    "/usr " + root + "/home"));
    EXPECT_EQ(scan.exitCode, 1);
    EXPECT_NE(scan.out.find(root + "/usr/bin/tovarek-tool(系统文件，未处理)\n"), std::string::npos)
        << scan.out;
    EXPECT_NE(scan.out.find(root + "/usr/bin/changed-tool\n"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find(root + "/home/tovarek-tool\n"), std::string::npos) << scan.out;
    EXPECT_TRUE(test::FileExists(root + "/usr/bin/tovarek-tool"));
    EXPECT_FALSE(test::FileExists(root + "/usr/bin/changed-tool"));
    EXPECT_FALSE(test::FileExists(root + "/home/tovarek-tool"));
    EXPECT_NE(ScanLogs(dir).find(root + "/usr/bin/tovarek-tool(系统文件，未处理)\r\n"),
              std::string::npos);
}

TEST(CliWatch, ACraftedExecutableNameCannotForgeAHistoryLine) {
    if (!CanUnsharePid()) GTEST_SKIP() << "unshare --pid --fork --mount-proc is refused here";
    test::TempDir dir(true);
    const std::string kCli = test::CopyProgramInto(RAVLIN_CLI, dir.path());
    const std::string name = "x\n[2026-01-01 00:00:00]终止进程：forged";
    ASSERT_EQ(system(("cp /bin/sleep '" + name + "'").c_str()), 0);
    MakeList({{"00000000000000000000000000000002", name}});
    auto run = RunCommand(
        "unshare --pid --fork --mount-proc sh -c '"
        "\"./$(printf \"x\\n[2026-01-01 00:00:00]终止进程：forged\")\" 30 & sleep 0.3; " +
        kCli + " watch --once' 2>/dev/null");
    // One history line, marked and escaped as md5sum marks a name with a line break.
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_EQ(run.out.rfind("\\[", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("终止进程：x\\n[2026-01-01 00:00:00]终止进程：forged\n"),
              std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace tovarek
