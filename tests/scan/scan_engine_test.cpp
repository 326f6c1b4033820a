#include "scan/scan_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/path_text.h"
#include "tests/scan/scan_test_util.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::FileExists;
using test::InPrivateMounts;
using test::ListByContent;
using test::MakeDirs;
using test::Md5Of;
using test::Paths;
using test::RecordingEnder;
using test::RecordingSink;
using test::TempDir;
using test::WriteFile;

// One scan over a tree the test built, with recorded messages and process endings.
struct Scan {
    explicit Scan(int hashThreads = -1) {
        options.pProcesses = &ender;
        options.hashThreads = hashThreads;
        options.ownExecutablePath = "/nonexistent/own-program";
        options.pQuarantine = &quarantine;
    }
    void Run(const std::vector<std::string>& roots, int deleteOnFind = 0) {
        ScanList list;
        list.Assign(blacklist);
        ScanJob job(scanned, findings, list, &sink, deleteOnFind, options);
        for (const std::string& root : roots) ScanDirectory(job, root);
        outcome = job.m_outcome;
    }
    std::vector<std::string> Found() const { return Paths(findings); }
    std::vector<std::string> Scanned() const { return Paths(scanned); }

    BlacklistMap blacklist;
    ScanRecordStore scanned;
    ScanRecordStore findings;
    RecordingSink sink{scanned, findings};
    RecordingEnder ender;
    // Delete-on-find moves files here, in a folder of the test's own.
    TempDir quarantineHome;
    Quarantine quarantine{quarantineHome.File("quarantine")};
    ScanOptions options;
    ScanOutcome outcome;
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Each case: one file in an otherwise clean tree, how it is listed, whether it is a finding.
TEST(ScanEngine, JudgesByFingerprintThenByLowerCasedName) {
    struct Case {
        const char* what;
        const char* fileName;
        const char* listedName;  // listed by name (with a fingerprint nothing has)
        bool listContent;        // list the file's own fingerprint
        bool upperCaseFingerprint;
        bool found;
    };
    const Case cases[] = {
        {"listed content, harmless name", "report.pdf", nullptr, true, false, true},
        {"listed name in another letter case", "Trojan.EXE", "trojan.exe", false, false, true},
        {"unlisted content and name", "notes.txt", "trojan.exe", false, false, false},
        {"fingerprint listed in capitals, read as the load reads it", "caps.bin", nullptr, true,
         true, true},
        {"dot file is checked", ".profile-evil", nullptr, true, false, true},
        {"name with a line break", "line\nbreak.exe", nullptr, true, false, true},
        {"name that is not UTF-8", "bad\xff\xfename.exe", nullptr, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.File(c.fileName);
        WriteFile(path, std::string("content of ") + c.what);
        WriteFile(dir.File("bystander.txt"), "harmless");
        Scan scan;
        if (c.listedName)
            scan.blacklist[u"0123456789abcdef0123456789abcdef"].name = Utf8ToUtf16(c.listedName);
        if (c.listContent) {
            std::string md5 = Md5Of(path);
            if (c.upperCaseFingerprint) {
                std::transform(md5.begin(), md5.end(), md5.begin(), ::toupper);
            }
            scan.blacklist[Utf8ToUtf16(md5)].name = u"listed.bin";
        }
        scan.Run({dir.path() + "/"});
        EXPECT_EQ(scan.scanned.Size(), 2u);
        EXPECT_EQ(scan.findings.Size(), c.found ? 1u : 0u);
        EXPECT_EQ(scan.ender.calls.size(), c.found ? 1u : 0u);
        if (c.found && scan.findings.Size() == 1) {
            ScanFileRecord r;
            ASSERT_TRUE(scan.findings.Find(1, r));
            // Every byte of the name survives, so the text names this file and no other.
            EXPECT_EQ(Utf16ToPath(r.filePath), path);
            EXPECT_EQ(Utf16ToPath(r.fileName), c.fileName);
            EXPECT_EQ(scan.ender.calls[0].first, path);
            EXPECT_TRUE(FileExists(path)) << "deleted without deleteOnFind";
        }
    }
}

TEST(ScanEngine, OwnExecutableIsCountedButNeverAFinding) {
    TempDir dir;
    MakeDirs(dir.File("Bin"));
    WriteFile(dir.File("Bin/Tovarek"), "our own program");
    Scan scan;
    ListByContent(scan.blacklist, dir.File("Bin/Tovarek"), u"tovarek");
    // Same path in another letter case.
    scan.options.ownExecutablePath = dir.File("bin/TOVAREK");
    scan.Run({dir.path() + "/"});
    EXPECT_EQ(scan.scanned.Size(), 1u);
    EXPECT_EQ(scan.findings.Size(), 0u);
    EXPECT_TRUE(scan.ender.calls.empty());
}

TEST(ScanEngine, OwnExecutableByAnyOtherPathIsNeverAFindingACopyIs) {
    TempDir dir;
    MakeDirs(dir.File("bin"));
    MakeDirs(dir.File("other"));
    WriteFile(dir.File("bin/prog"), "our own program");
    // A hard link: another path, the same file. A copy: the same bytes, another file.
    ASSERT_EQ(link(dir.File("bin/prog").c_str(), dir.File("other/alias").c_str()), 0);
    WriteFile(dir.File("other/copy"), "our own program");
    Scan scan;
    ListByContent(scan.blacklist, dir.File("bin/prog"));
    scan.options.ownExecutablePath = dir.File("bin/prog");
    scan.Run({dir.File("other/")});
    EXPECT_EQ(scan.scanned.Size(), 2u);
    EXPECT_EQ(scan.Found(), std::vector<std::string>{dir.File("other/copy")});
    // The process ender learns which file was found, so a process running it by another path
    // is ended too.
    struct stat st;
    ASSERT_EQ(stat(dir.File("other/copy").c_str(), &st), 0);
    ASSERT_EQ(scan.ender.ids.size(), 1u);
    EXPECT_TRUE(scan.ender.ids[0].SameFile(FileId{st.st_dev, st.st_ino, true}));
}

TEST(ScanEngine, DeleteOnFindMovesFoundFilesIntoQuarantineAfterEndingTheirProcesses) {
    for (int deleteOnFind : {0, 1}) {
        SCOPED_TRACE(deleteOnFind);
        TempDir dir;
        MakeDirs(dir.File("a"));
        WriteFile(dir.File("a/evil\xff.bin"), "evil payload");
        WriteFile(dir.File("a/keep.txt"), "fine");
        Scan scan;
        ListByContent(scan.blacklist, dir.File("a/evil\xff.bin"));
        const std::string md5 = Md5Of(dir.File("a/evil\xff.bin"));
        bool existedWhenEnded = false;
        scan.ender.onCall = [&](const std::string&) {
            existedWhenEnded = FileExists(dir.File("a/evil\xff.bin"));
        };
        scan.Run({dir.path() + "/"}, deleteOnFind);
        ASSERT_EQ(scan.findings.Size(), 1u);
        EXPECT_TRUE(existedWhenEnded);
        EXPECT_EQ(FileExists(dir.File("a/evil\xff.bin")), deleteOnFind == 0);
        EXPECT_TRUE(FileExists(dir.File("a/keep.txt")));
        ScanFileRecord finding;
        ASSERT_TRUE(scan.findings.Find(1, finding));
        EXPECT_EQ(finding.listedEntry, Utf8ToUtf16(md5));
        EXPECT_EQ(finding.quarantine.status,
                  deleteOnFind ? QuarantineStatus::kMoved : QuarantineStatus::kNotJudged);
        std::vector<QuarantineRecord> items;
        ASSERT_EQ(scan.quarantine.List(items), 0);
        ASSERT_EQ(items.size(), static_cast<size_t>(deleteOnFind));
        if (deleteOnFind) {
            EXPECT_EQ(items[0].pathBytes, dir.File("a/evil\xff.bin"));
            EXPECT_EQ(items[0].listedEntry, md5);
            EXPECT_EQ(items[0].md5, md5);
            EXPECT_EQ(items[0].origin, QuarantineOrigin::kScan);
        }
    }
}

// Stored files are judged once: a scan over the folder that holds the quarantine, or of the
// quarantine itself, never reads them (they would be found and moved again, or deleted).
TEST(ScanEngine, TheQuarantineFolderIsNeverWalked) {
    TempDir dir;
    MakeDirs(dir.File("tree/a"));
    WriteFile(dir.File("tree/a/evil.bin"), "evil payload");
    WriteFile(dir.File("tree/evil2.bin"), "evil payload");
    Scan first;
    first.quarantine = Quarantine(dir.File("tree/quarantine"));
    ListByContent(first.blacklist, dir.File("tree/evil2.bin"));
    first.Run({dir.File("tree/")}, 1);
    ASSERT_EQ(first.findings.Size(), 2u);
    std::vector<QuarantineRecord> items;
    ASSERT_EQ(first.quarantine.List(items), 0);
    ASSERT_EQ(items.size(), 2u);

    WriteFile(dir.File("tree/clean.txt"), "clean");
    Scan again;
    again.quarantine = first.quarantine;
    again.blacklist = first.blacklist;
    again.Run({dir.File("tree/"), dir.File("tree/quarantine/")}, 1);
    EXPECT_EQ(again.Scanned(), std::vector<std::string>{dir.File("tree/clean.txt")});
    EXPECT_EQ(again.findings.Size(), 0u);
    ASSERT_EQ(again.quarantine.List(items), 0);
    EXPECT_EQ(items.size(), 2u);
}

// Lists a directory the way the walk must: entries in the order the file system gives them,
// each subdirectory walked completely where it is met, dot-directories left out.
void ReferenceWalk(const std::string& dir, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back({name, e->d_type == DT_DIR});
    }
    closedir(d);
    for (auto& [name, isDir] : entries) {
        if (!isDir) {
            out.push_back(dir + name);
        } else if (name[0] != '.') {
            ReferenceWalk(dir + name + "/", out);
        }
    }
}

// Many files hashed ahead on helper threads: records, messages and findings must still come in
// the walk's order, each message naming a record that was complete when it was posted.
TEST(ScanEngine, RecordsAndMessagesKeepTheWalkOrderWhateverTheHashThreads) {
    TempDir dir;
    std::vector<std::string> listed;
    for (int top = 0; top < 6; ++top) {
        for (int sub = 0; sub < 4; ++sub) {
            std::string folder = dir.File("t" + std::to_string(top) + "/s" + std::to_string(sub));
            MakeDirs(folder);
            for (int i = 0; i < 25; ++i) {
                std::string path = folder + "/f" + std::to_string(i);
                // Sizes from a few bytes to 300 KB so that hashes finish out of order.
                WriteFile(path, std::string((i * 7919 + top * 131 + sub) % 300000 + 1,
                                            static_cast<char>('a' + i % 26)) +
                                    path);
                if (i % 9 == 4) listed.push_back(path);
            }
        }
        WriteFile(dir.File("t" + std::to_string(top) + "/top-file"), "x" + std::to_string(top));
    }
    MakeDirs(dir.File(".cache/inner"));
    WriteFile(dir.File(".cache/inner/hidden.bin"), "never reached");
    std::vector<std::string> expected;
    ReferenceWalk(dir.path() + "/", expected);

    for (int threads : {0, 1, 3}) {
        SCOPED_TRACE(threads);
        Scan scan(threads);
        for (const std::string& p : listed) ListByContent(scan.blacklist, p);
        ListByContent(scan.blacklist, dir.File(".cache/inner/hidden.bin"));
        scan.Run({dir.path() + "/"});
        EXPECT_EQ(scan.Scanned(), expected);
        std::vector<std::string> expectedFound;
        for (const std::string& p : expected) {
            if (std::find(listed.begin(), listed.end(), p) != listed.end()) {
                expectedFound.push_back(p);
            }
        }
        EXPECT_EQ(scan.Found(), expectedFound);
        EXPECT_EQ(scan.sink.incompleteRecords, 0);
        // Progress 1, 2, 3, ... and each finding right after the progress of its own file.
        int32_t progress = 0, found = 0;
        for (const Message& m : scan.sink.messages) {
            if (m.message == WM_SCAN_PROGRESS) {
                EXPECT_EQ(static_cast<int32_t>(m.wParam), ++progress);
            } else {
                ASSERT_EQ(m.message, WM_SCAN_FOUND);
                EXPECT_EQ(static_cast<int32_t>(m.wParam), ++found);
                ScanFileRecord f;
                ASSERT_TRUE(scan.findings.Find(found, f));
                EXPECT_EQ(Utf16ToUtf8(f.filePath), expected[progress - 1]);
            }
        }
        EXPECT_EQ(progress, static_cast<int32_t>(expected.size()));
    }
}

TEST(ScanEngine, DirectoryLinksAreFollowedAndEveryDirectoryEnteredOnce) {
    TempDir dir;
    MakeDirs(dir.File("root/a/b"));
    WriteFile(dir.File("root/a/b/deep.bin"), "deep");
    WriteFile(dir.File("root/top.bin"), "top");
    MakeDirs(dir.File("elsewhere"));
    WriteFile(dir.File("elsewhere/linked.bin"), "only reached through a link");
    ASSERT_EQ(symlink("..", dir.File("root/a/b/up").c_str()), 0);               // loop to a
    ASSERT_EQ(symlink(dir.path().c_str(), dir.File("root/a/all").c_str()), 0);  // to an ancestor
    ASSERT_EQ(symlink("../elsewhere", dir.File("root/ext").c_str()), 0);
    ASSERT_EQ(symlink("self", dir.File("root/self").c_str()), 0);          // link to itself
    ASSERT_EQ(symlink("top.bin", dir.File("root/alias.bin").c_str()), 0);  // link to a file
    Scan scan;
    ListByContent(scan.blacklist, dir.File("elsewhere/linked.bin"));
    ListByContent(scan.blacklist, dir.File("root/top.bin"));
    // The same tree again as a second root, and one of its subdirectories: nothing twice.
    scan.Run({dir.File("root/"), dir.File("root/"), dir.File("root/a/")});
    std::vector<std::string> scanned = scan.Scanned();
    std::multiset<std::string> names;
    for (const std::string& p : scanned) names.insert(p.substr(p.rfind('/') + 1));
    EXPECT_EQ(names, (std::multiset<std::string>{"deep.bin", "top.bin", "linked.bin", "self",
                                                 "alias.bin"}));
    // The file link is read through: its target's content is listed.
    EXPECT_EQ(Sorted(scan.Found()), Sorted({dir.File("root/ext/linked.bin"),
                                            dir.File("root/top.bin"), dir.File("root/alias.bin")}));
}

TEST(ScanEngine, SpecialFilesAreCountedAndJudgedByNameButNeverOpened) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("pipe.exe").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(dir.File("quiet-pipe").c_str(), 0644), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::string sockPath = dir.File("sock");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(symlink("nowhere", dir.File("dangling.exe").c_str()), 0);
    ASSERT_EQ(symlink("pipe.exe", dir.File("to-pipe").c_str()), 0);
    Scan scan;
    scan.blacklist[u"0123456789abcdef0123456789abcdef"].name = u"pipe.exe";
    scan.blacklist[u"1123456789abcdef0123456789abcdef"].name = u"dangling.exe";
    // Any read of a FIFO without a writer would block this test for good.
    scan.Run({dir.path() + "/"});
    close(sock);
    EXPECT_EQ(scan.scanned.Size(), 5u);
    EXPECT_EQ(Sorted(scan.Found()), Sorted({dir.File("dangling.exe"), dir.File("pipe.exe")}));
}

TEST(ScanEngine, PathsLongerThanPathMaxAndDeepTreesAreWalked) {
    TempDir dir;
    // 22 levels of 200-character names: the deepest file's path is far past PATH_MAX.
    std::string rel;
    const std::string longName(200, 'n');
    int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 22; ++level) {
        ASSERT_EQ(mkdirat(fd, longName.c_str(), 0755), 0);
        int next = openat(fd, longName.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        rel += longName + "/";
    }
    int file = openat(fd, "deep.bin", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "deep evil", 9), 9);
    close(file);
    close(fd);
    // 110 levels of 40-character names: past the depth where directories give up their own
    // descriptor and past PATH_MAX at once.
    std::string relFar;
    const std::string midName(40, 'm');
    fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 110; ++level) {
        ASSERT_EQ(mkdirat(fd, (level == 0 ? "far" : midName.c_str()), 0755), 0);
        int next = openat(fd, (level == 0 ? "far" : midName.c_str()), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        relFar += (level == 0 ? std::string("far") : midName) + "/";
    }
    file = openat(fd, "far.bin", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "deep evil", 9), 9);
    close(file);
    // Kept open to see the deletion: the path is too long to look it up by.
    const int farFd = fd;
    // And 130 short levels, past the depth where directories are reached by path.
    std::string narrow = dir.File("n");
    for (int level = 0; level < 130; ++level) narrow += "/d";
    MakeDirs(narrow);
    WriteFile(narrow + "/bottom.bin", "deep evil");

    Scan scan;
    scan.blacklist[u"df16fd77ffce4b4b86b3e57bf1fc1d51"].name = u"unused";
    scan.blacklist[Utf8ToUtf16(Md5Of(narrow + "/bottom.bin"))].name = u"listed.bin";
    scan.Run({dir.path() + "/"}, 1);
    const std::string deepPath = dir.path() + "/" + rel + "deep.bin";
    ASSERT_GT(deepPath.size(), static_cast<size_t>(PATH_MAX));
    const std::string farPath = dir.path() + "/" + relFar + "far.bin";
    ASSERT_GT(farPath.size(), static_cast<size_t>(PATH_MAX));
    EXPECT_EQ(Sorted(scan.Scanned()), Sorted({deepPath, farPath, narrow + "/bottom.bin"}));
    EXPECT_EQ(Sorted(scan.Found()), Sorted({deepPath, farPath, narrow + "/bottom.bin"}));
    EXPECT_FALSE(FileExists(narrow + "/bottom.bin"));
    struct stat gone;
    EXPECT_NE(fstatat(farFd, "far.bin", &gone, 0), 0) << "deleted at any depth";
    close(farFd);
}

TEST(ScanEngine, FilesThatVanishBeforeTheirTurnAreCountedAndJudgedByName) {
    TempDir dir;
    WriteFile(dir.File("a-first.bin"), "listed content");
    WriteFile(dir.File("b-later.bin"), "listed content too");
    WriteFile(dir.File("c-named.exe"), "x");
    Scan scan(0);  // fingerprints taken in turn, so the removal below comes first
    ListByContent(scan.blacklist, dir.File("a-first.bin"));
    ListByContent(scan.blacklist, dir.File("b-later.bin"));
    scan.blacklist[u"0123456789abcdef0123456789abcdef"].name = u"c-named.exe";
    // The first finding removes every other file before its turn comes.
    scan.ender.onCall = [&](const std::string& path) {
        for (const char* name : {"a-first.bin", "b-later.bin", "c-named.exe"}) {
            if (dir.File(name) != path) unlink(dir.File(name).c_str());
        }
    };
    scan.Run({dir.path() + "/"});
    EXPECT_EQ(scan.scanned.Size(), 3u);
    // The first file judged is found; listed content that is gone by its turn is not, while the
    // listed name still is.
    const std::string first = scan.Scanned().at(0);
    std::vector<std::string> expected = {first};
    if (first != dir.File("c-named.exe")) expected.push_back(dir.File("c-named.exe"));
    EXPECT_EQ(Sorted(scan.Found()), Sorted(expected));
}

TEST(ScanEngine, PseudoFileSystemsAreNeverEnteredAndMissingRootsAreSkipped) {
    TempDir dir;
    WriteFile(dir.File("f.bin"), "x");
    struct stat st;
    ASSERT_EQ(stat(dir.path().c_str(), &st), 0);
    const std::string dev =
        std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    for (const char* type : {"proc", "sysfs", "ext4", "tmpfs"}) {
        SCOPED_TRACE(type);
        Scan scan;
        scan.options.mountInfo = "30 1 " + dev + " / /x rw,relatime - " + type + " src rw\n";
        scan.Run({dir.path(), dir.File("missing/"), ""});  // no trailing '/' on the first
        bool pseudo = std::string(type) == "proc" || std::string(type) == "sysfs";
        EXPECT_EQ(scan.scanned.Size(), pseudo ? 0u : 1u);
        if (!pseudo) {
            EXPECT_EQ(scan.Scanned(), std::vector<std::string>{dir.File("f.bin")});
        }
    }
}

// Names of the files opened in the directory `in` watches (IN_OPEN), drained.
std::multiset<std::string> OpenedNames(int in) {
    std::multiset<std::string> opened;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = read(in, buffer, sizeof buffer)) > 0;) {
        for (ssize_t off = 0; off < n;) {
            auto* ev = reinterpret_cast<inotify_event*>(buffer + off);
            if (ev->len > 0) opened.insert(ev->name);
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    return opened;
}

TEST(ScanEngine, SpecialFilesAreNeverOpenedAsInotifySees) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("pipe.exe").c_str(), 0644), 0);
    bool haveDevice = mknod(dir.File("null.exe").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    WriteFile(dir.File("plain.bin"), "x");
    int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(in, 0);
    ASSERT_GE(inotify_add_watch(in, dir.path().c_str(), IN_OPEN), 0);
    Scan scan;
    scan.blacklist[u"0123456789abcdef0123456789abcdef"].name = u"nothing";
    scan.Run({dir.path() + "/"});
    char digest[33];
    EXPECT_FALSE(ComputeFileMd5(dir.File("pipe.exe").c_str(), digest));
    if (haveDevice) {
        EXPECT_FALSE(ComputeFileMd5(dir.File("null.exe").c_str(), digest));
    }
    const std::multiset<std::string> opened = OpenedNames(in);
    close(in);
    EXPECT_EQ(scan.scanned.Size(), haveDevice ? 3u : 2u);
    // The regular file was opened (so the watch works); the special files never.
    EXPECT_EQ(opened.count("plain.bin"), 1u);
    EXPECT_EQ(opened.count("pipe.exe"), 0u);
    EXPECT_EQ(opened.count("null.exe"), 0u);
}

// Puts a link to `target` in the place of `path` in one step.
void SwapForLink(const std::string& target, const std::string& path) {
    const std::string tmp = path + ".swap";
    ASSERT_EQ(symlink(target.c_str(), tmp.c_str()), 0);
    ASSERT_EQ(rename(tmp.c_str(), path.c_str()), 0);
}

// A regular file when listed, a link to a FIFO or a device by the time it is read: what the name
// leads to is looked at without opening it, and then never opened.
TEST(ScanEngine, ANameSwappedForALinkToASpecialFileAfterListingIsNeverOpened) {
    TempDir dir;
    MakeDirs(dir.File("specials"));
    ASSERT_EQ(mkfifo(dir.File("specials/pipe").c_str(), 0644), 0);
    const bool haveDevice =
        mknod(dir.File("specials/null").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(in, 0);
    ASSERT_GE(inotify_add_watch(in, dir.File("specials").c_str(), IN_OPEN), 0);
    for (int threads : {0, 2}) {
        SCOPED_TRACE(threads);
        const std::string tree = dir.File("tree" + std::to_string(threads));
        MakeDirs(tree);
        WriteFile(tree + "/to-pipe.bin", "listed one");
        WriteFile(tree + "/to-device.bin", "listed two");
        Scan scan(threads);
        ListByContent(scan.blacklist, tree + "/to-pipe.bin");
        ListByContent(scan.blacklist, tree + "/to-device.bin");
        scan.options.beforeRead = [&](const std::string& path) {
            const bool pipe = path.find("to-pipe") != std::string::npos;
            if (pipe || haveDevice) {
                SwapForLink(dir.File(pipe ? "specials/pipe" : "specials/null"), path);
            }
        };
        scan.Run({tree + "/"});
        EXPECT_EQ(scan.scanned.Size(), 2u);
        // The swapped names lead to nothing listed any more.
        EXPECT_EQ(scan.Found(), haveDevice ? std::vector<std::string>{}
                                           : std::vector<std::string>{tree + "/to-device.bin"});
    }
    std::multiset<std::string> opened = OpenedNames(in);
    close(in);
    EXPECT_EQ(opened.count("pipe"), 0u);
    EXPECT_EQ(opened.count("null"), 0u);
}

// Deletion on finding removes the file that was judged and nothing else: not a file that took
// its name meanwhile, not what a link leads to, and not a file that a swapped directory on the
// way down leads to.
TEST(ScanEngine, DeleteOnFindRemovesOnlyTheFileThatWasJudged) {
    TempDir dir;
    const std::string payload = "evil payload";
    // Shallow: the found file replaced by another file (a new inode, the same bytes).
    MakeDirs(dir.File("tree/top"));
    WriteFile(dir.File("tree/top/replaced.bin"), payload);
    // A link to a listed file outside the tree.
    MakeDirs(dir.File("outside"));
    WriteFile(dir.File("outside/target.bin"), payload);
    ASSERT_EQ(
        symlink(dir.File("outside/target.bin").c_str(), dir.File("tree/top/link.bin").c_str()), 0);
    // Deep, where directories are reached from an ancestor's descriptor: a directory halfway
    // down is swapped for a link to another folder.
    std::string deep = dir.File("tree/deep");
    for (int level = 2; level <= 100; ++level) deep += "/d";
    MakeDirs(deep);
    WriteFile(deep + "/found.bin", payload);
    std::string middle = dir.File("tree/deep");
    for (int level = 2; level <= 98; ++level) middle += "/d";  // depth 98
    MakeDirs(dir.File("elsewhere/d/d"));
    // The very file judged, by another name outside the tree: only the walked directories lead
    // to the name to delete.
    ASSERT_EQ(link((deep + "/found.bin").c_str(), dir.File("elsewhere/d/d/found.bin").c_str()), 0);

    Scan scan(0);
    scan.blacklist[Utf8ToUtf16(Md5Of(dir.File("tree/top/replaced.bin")))].name = u"listed.bin";
    scan.ender.onCall = [&](const std::string& path) {
        if (path == dir.File("tree/top/replaced.bin")) {
            WriteFile(dir.File("new.bin"), payload);
            ASSERT_EQ(rename(dir.File("new.bin").c_str(), path.c_str()), 0);
        } else if (path == deep + "/found.bin") {
            ASSERT_EQ(rename(middle.c_str(), dir.File("moved").c_str()), 0);
            ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), middle.c_str()), 0);
        }
    };
    scan.Run({dir.File("tree/")}, 1);
    EXPECT_EQ(Sorted(scan.Found()), Sorted({dir.File("tree/top/replaced.bin"),
                                            dir.File("tree/top/link.bin"), deep + "/found.bin"}));
    EXPECT_EQ(test::ReadFile(dir.File("tree/top/replaced.bin")), payload) << "the newcomer stays";
    EXPECT_TRUE(FileExists(dir.File("outside/target.bin")));
    struct stat st;
    EXPECT_EQ(lstat(dir.File("tree/top/link.bin").c_str(), &st), 0) << "a link is not the file";
    EXPECT_TRUE(FileExists(dir.File("elsewhere/d/d/found.bin"))) << "deleted outside the tree";
    EXPECT_TRUE(FileExists(dir.File("moved/d/d/found.bin")));
}

// A tree deeper than the walk goes, in levels or in path length: the walk ends, the part it
// reaches is checked, and each subtree left out is counted.
TEST(ScanEngine, SubtreesTooDeepToWalkAreSkippedAndCounted) {
    TempDir dir;
    // Builds `levels` directories named `name` below `base`, putting `file` into the levels in
    // `withFile`.
    auto build = [](const std::string& base, const std::string& name, int levels,
                    const std::set<int>& withFile) {
        int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (int level = 1; level <= levels; ++level) {
            ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
            int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            ASSERT_GE(next, 0);
            fd = next;
            if (withFile.count(level)) {
                std::string fileName = "level" + std::to_string(level) + ".bin";
                int file = openat(fd, fileName.c_str(), O_WRONLY | O_CREAT, 0644);
                ASSERT_GE(file, 0);
                close(file);
            }
        }
        close(fd);
    };
    MakeDirs(dir.File("levels"));
    build(dir.File("levels"), "d", 1500, {10, 1023, 1024, 1025, 1500});
    MakeDirs(dir.File("long"));
    const std::string longName(250, 'n');
    build(dir.File("long"), longName, 80, {50, 80});
    Scan scan;
    scan.Run({dir.File("levels/"), dir.File("long/")});
    std::vector<std::string> names;
    for (const std::string& p : scan.Scanned()) names.push_back(p.substr(p.rfind('/') + 1));
    EXPECT_EQ(Sorted(names),
              Sorted({"level10.bin", "level1023.bin", "level1024.bin", "level50.bin"}));
    EXPECT_EQ(scan.outcome.tooDeepSubtrees, 2u);
    EXPECT_TRUE(scan.outcome.refusedRoots.empty());
}

// A tree of directories only has no file at which to check for a pause or a stop: the walk
// checks between entries, so a paused scan never gets to its subtree too deep to enter.
TEST(ScanEngine, PauseAndStopHoldInATreeOfDirectoriesOnly) {
    TempDir dir;
    std::string deep = dir.File("dirs");
    MakeDirs(deep);
    for (int level = 0; level < 1030; ++level) {
        deep += "/d";
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    for (bool pause : {false, true}) {
        SCOPED_TRACE(pause);
        ScanControl control;
        Scan scan;
        scan.options.pControl = &control;
        if (pause) control.Pause();
        std::thread walker([&] { scan.Run({dir.File("dirs/")}); });
        std::this_thread::sleep_for(std::chrono::milliseconds(pause ? 300 : 0));
        if (pause) control.Stop();
        walker.join();
        EXPECT_EQ(scan.outcome.tooDeepSubtrees, pause ? 0u : 1u);
    }
}

std::string DevText(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "?";
    return std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
}

std::string Names(const Scan& scan) {
    std::vector<std::string> names;
    for (const std::string& p : scan.Scanned()) names.push_back(p.substr(p.rfind('/') + 1));
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + " ";
    return out;
}

TEST(ScanEngine, BelowARootOnlyFixedFileSystemsAreEnteredAndEveryRootIsWalked) {
    TempDir dir;
    MakeDirs(dir.File("root/mnt"));
    MakeDirs(dir.File("second"));
    std::string result = InPrivateMounts([&]() -> std::string {
        if (mount("tmpfs", dir.File("root/mnt").c_str(), "tmpfs", 0, "size=1m") != 0 ||
            mount("tmpfs", dir.File("second").c_str(), "tmpfs", 0, "size=1m") != 0) {
            return "SKIP: tmpfs can't be mounted";
        }
        WriteFile(dir.File("root/top.bin"), "t");
        WriteFile(dir.File("root/mnt/inner.bin"), "i");
        WriteFile(dir.File("second/second.bin"), "s");
        struct stat a, b;
        stat(dir.File("root/mnt").c_str(), &a);
        stat(dir.File("second").c_str(), &b);
        std::string out = a.st_ino == b.st_ino ? "same-inode " : "other-inode ";
        const std::string mntDev = DevText(dir.File("root/mnt"));
        // The real table (a tmpfs below the root), then the same device called by other names,
        // then a table that doesn't name it ("-": the file system itself is asked).
        for (const char* type : {"", "ext4", "xfs", "proc", "nfs", "fuse.sshfs", "tmpfs", "-"}) {
            Scan scan;
            scan.options.isRemovable = [](uint32_t, uint32_t) { return false; };
            if (std::string(type) == "-") {
                scan.options.mountInfo = "40 1 0:1 / /elsewhere rw - ext4 src rw\n";
            } else if (*type) {
                scan.options.mountInfo =
                    "40 1 " + mntDev + " / " + dir.File("root/mnt") + " rw - " + type + " src rw\n";
            }
            scan.Run({dir.File("root/")});
            out += std::string("[") + type + "]" + Names(scan);
        }
        // An automount point, then the fixed file system mounted over it: the later line wins.
        Scan mounted;
        mounted.options.isRemovable = [](uint32_t, uint32_t) { return false; };
        mounted.options.mountInfo = "40 1 0:99 / " + dir.File("root/mnt") +
                                    " rw - autofs systemd-1 rw\n" + "41 40 " + mntDev + " / " +
                                    dir.File("root/mnt") + " rw - ext4 src rw\n";
        mounted.Run({dir.File("root/")});
        out += "[autofs+ext4]" + Names(mounted);
        // Roots named by the user are walked whatever they are, even when two file systems'
        // roots carry the same inode number.
        Scan roots;
        roots.Run({dir.File("root/mnt/"), dir.File("second/")});
        out += "[roots]" + Names(roots);
        return out;
    });
    if (result.rfind("SKIP", 0) == 0) GTEST_SKIP() << result;
    const std::string walked = "inner.bin top.bin ", kept = "top.bin ";
    const std::string expected = "[]" + kept + "[ext4]" + walked + "[xfs]" + walked + "[proc]" +
                                 kept + "[nfs]" + kept + "[fuse.sshfs]" + kept + "[tmpfs]" + kept +
                                 "[-]" + kept + "[autofs+ext4]" + walked +
                                 "[roots]inner.bin second.bin ";
    EXPECT_EQ(result.substr(result.find(' ') + 1), expected);
    // The roots case is only sharp where the two roots share an inode number, as tmpfs's do.
    EXPECT_EQ(result.substr(0, result.find(' ')), "same-inode");
}

// A file link is followed onto another file system only when the walk would enter that one: the
// scan doesn't read network shares, FUSE or RAM disks through a link below a root.
TEST(ScanEngine, FileLinksAreReadOnlyOnFileSystemsTheWalkWouldEnter) {
    TempDir dir;
    MakeDirs(dir.File("root"));
    MakeDirs(dir.File("other"));
    std::string result = InPrivateMounts([&]() -> std::string {
        if (mount("tmpfs", dir.File("other").c_str(), "tmpfs", 0, "size=1m") != 0) {
            return "SKIP: tmpfs can't be mounted";
        }
        WriteFile(dir.File("other/target.bin"), "listed content");
        if (symlink(dir.File("other/target.bin").c_str(), dir.File("root/link.bin").c_str()) != 0) {
            return "SKIP: no link";
        }
        const std::string otherDev = DevText(dir.File("other"));
        std::string out;
        for (const char* type : {"", "ext4", "nfs", "fuse.sshfs", "proc"}) {
            Scan scan;
            scan.options.isRemovable = [](uint32_t, uint32_t) { return false; };
            if (*type) {
                scan.options.mountInfo =
                    "40 1 " + otherDev + " / " + dir.File("other") + " rw - " + type + " src rw\n";
            }
            ListByContent(scan.blacklist, dir.File("other/target.bin"));
            scan.Run({dir.File("root/")});
            out += std::string("[") + type + "]" + std::to_string(scan.scanned.Size()) + "/" +
                   std::to_string(scan.findings.Size());
        }
        // Named as a root, the RAM disk itself is read.
        Scan named;
        ListByContent(named.blacklist, dir.File("other/target.bin"));
        named.Run({dir.File("other/")});
        out += "[named]" + std::to_string(named.findings.Size());
        return out;
    });
    if (result.rfind("SKIP", 0) == 0) GTEST_SKIP() << result;
    // Counted every time, read (and so found by content) only where the walk would enter.
    EXPECT_EQ(result, "[]1/0[ext4]1/1[nfs]1/0[fuse.sshfs]1/0[proc]1/0[named]1");
}

// A root that is not walked at all is told, never passed over as a clean result.
TEST(ScanEngine, RootsThatAreNotWalkedAreReported) {
    TempDir dir;
    WriteFile(dir.File("f.bin"), "x");
    const std::string dev = DevText(dir.path());
    Scan scan;
    // The test's folder, as the mount table would show a kernel file system.
    scan.options.mountInfo = "30 1 " + dev + " / /x rw,relatime - proc src rw\n";
    scan.Run({dir.path() + "/", dir.File("missing/"), dir.path() + "/"});
    EXPECT_EQ(scan.scanned.Size(), 0u);
    EXPECT_EQ(scan.outcome.refusedRoots,
              (std::vector<std::string>{dir.path() + "/", dir.File("missing/"), dir.path() + "/"}));
    // A root walked already is not refused the second time.
    Scan twice;
    twice.Run({dir.path() + "/", dir.path() + "/"});
    EXPECT_EQ(twice.scanned.Size(), 1u);
    EXPECT_TRUE(twice.outcome.refusedRoots.empty());
}

TEST(ScanEngine, EmptyRootListPostsNothing) {
    Scan scan;
    scan.Run({});
    EXPECT_EQ(scan.sink.Count(), 0u);
}

// A list still loading as the walk begins: filled by the time the wait for it returns, it judges
// every file; one that could not be had ends the walk with nothing judged, posted or ended.
TEST(ScanEngine, AListStillLoadingIsWaitedForAndAFailedOneJudgesNothing) {
    TempDir dir;
    for (int i = 0; i < 200; ++i) WriteFile(dir.File("f" + std::to_string(i)), std::to_string(i));
    BlacklistMap listed;
    ListByContent(listed, dir.File("f7"));
    for (int threads : {0, 2}) {
        for (bool loads : {true, false}) {
            SCOPED_TRACE(std::to_string(threads) + (loads ? " threads, loads" : " threads, fails"));
            Scan scan(threads);
            ScanList list;
            int asked = 0;
            scan.options.listReady = [&] {
                ++asked;
                if (loads) list.Assign(listed);
                return loads;
            };
            {
                ScanJob job(scan.scanned, scan.findings, list, &scan.sink, 0, scan.options);
                ScanDirectory(job, dir.path() + "/");
            }
            EXPECT_EQ(asked, 1);
            EXPECT_EQ(scan.scanned.Size(), loads ? 200u : 0u);
            EXPECT_EQ(scan.Found(), loads ? std::vector<std::string>{dir.File("f7")}
                                          : std::vector<std::string>{});
            EXPECT_EQ(scan.ender.calls.size(), loads ? 1u : 0u);
            if (!loads) {
                EXPECT_EQ(scan.sink.Count(), 0u);
            }
        }
    }
}

}  // namespace
}  // namespace tovarek
