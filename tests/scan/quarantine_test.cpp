// The quarantine on its own: a found file goes in and comes back byte for byte with its mode and
// times, on one file system and across two (a tmpfs in a private mount namespace); a restore
// never writes over anything; a failure or a crash at any step of a move loses nothing; purge.
// Cases that need a second file system run in a child process and report back as text.
#include "scan/quarantine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/local_time.h"
#include "tests/scan/scan_test_util.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::FileExists;
using test::InPrivateMounts;
using test::MakeDirs;
using test::Md5Of;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// More than one read buffer of every byte value.
std::string Payload(const std::string& tag) {
    std::string bytes = tag;
    for (int i = 0; i < 200 * 1024; ++i) bytes.push_back(static_cast<char>(i * 7));
    return bytes;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

std::string Octal(mode_t mode) {
    char text[16];
    snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode & 07777));
    return text;
}

const struct timespec kTimes[2] = {{1600000000, 123456789}, {1500000000, 987654321}};

// A found file: odd name, mode 0751, access and modification times to the nanosecond, and (as
// root) another owner. Its fingerprint is taken before the times are set: a read moves them.
std::string MakeFound(const std::string& folder, const std::string& bytes, std::string& md5) {
    const std::string path = folder + "/evil\nname\xff.exe";
    WriteFile(path, bytes);
    md5 = Md5Of(path);
    chmod(path.c_str(), 0751);
    if (geteuid() == 0) chown(path.c_str(), 4242, 4343);
    utimensat(AT_FDCWD, path.c_str(), kTimes, 0);
    return path;
}

// Moves a found file from `from` into a quarantine at `folder` and restores it (to `restoreTo`,
// a folder, when given); describes what it saw.
std::string RoundTrip(const std::string& from, const std::string& folder,
                      const std::string& restoreTo) {
    const std::string bytes = Payload("round trip");
    std::string md5;
    const std::string path = MakeFound(from, bytes, md5);
    Quarantine quarantine(folder);
    QuarantineResult moved =
        quarantine.MoveIn(path, FileIdOfPath(path), "evil.exe", QuarantineOrigin::kScanPage);
    struct stat st;
    std::string out = "moved=" + std::to_string(moved.status == QuarantineStatus::kMoved);
    out += " left=" + std::to_string(lstat(path.c_str(), &st) == 0);
    out += " stored=" +
           (lstat((folder + "/" + moved.id).c_str(), &st) == 0 ? Octal(st.st_mode) : "none");
    out += " folder=" + (stat(folder.c_str(), &st) == 0 ? Octal(st.st_mode) : "none");
    std::vector<QuarantineRecord> items;
    quarantine.List(items);
    out +=
        " listed=" +
        std::to_string(items.size() == 1 && items[0].id == moved.id && items[0].pathBytes == path &&
                       items[0].sizeBytes == bytes.size() && items[0].listedEntry == "evil.exe" &&
                       items[0].md5 == md5 && items[0].origin == QuarantineOrigin::kScanPage);

    RestoreResult restored = quarantine.Restore(moved.id, restoreTo);
    const std::string target = restoreTo.empty() ? path : restoreTo + path.substr(path.rfind('/'));
    out += " restored=" +
           std::to_string(restored.status == RestoreStatus::kRestored && restored.path == target);
    // Looked at before it is read: reading moves the access time.
    if (lstat(target.c_str(), &st) != 0) return out + " gone";
    out += " bytes=" + std::to_string(ReadFile(target) == bytes);
    out += " mode=" + Octal(st.st_mode);
    out += " times=" + std::to_string(st.st_atim.tv_sec == kTimes[0].tv_sec &&
                                      st.st_atim.tv_nsec == kTimes[0].tv_nsec &&
                                      st.st_mtim.tv_sec == kTimes[1].tv_sec &&
                                      st.st_mtim.tv_nsec == kTimes[1].tv_nsec);
    out += " owner=" + std::to_string(geteuid() != 0 || (st.st_uid == 4242 && st.st_gid == 4343));
    quarantine.List(items);
    out += " empty=" + std::to_string(items.empty() && Entries(folder).empty());
    return out;
}

constexpr char kRoundTrip[] =
    "moved=1 left=0 stored=0 folder=700 listed=1 restored=1 bytes=1 mode=751 times=1 owner=1 "
    "empty=1";

TEST(Quarantine, FoundFileComesBackByteForByteWithModeTimesAndOwner) {
    TempDir dir;
    MakeDirs(dir.File("found"));
    MakeDirs(dir.File("elsewhere"));
    MakeDirs(dir.File("elsewhere2"));
    EXPECT_EQ(RoundTrip(dir.File("found"), dir.File("data/quarantine"), ""), kRoundTrip)
        << "same file system";
    EXPECT_EQ(RoundTrip(dir.File("found"), dir.File("data/quarantine"), dir.File("elsewhere")),
              kRoundTrip)
        << "same file system, into another folder";

    MakeDirs(dir.File("ram"));
    std::string result = InPrivateMounts([&]() -> std::string {
        if (mount("tmpfs", dir.File("ram").c_str(), "tmpfs", 0, "size=4m") != 0)
            return "SKIP: tmpfs can't be mounted";
        // In from the RAM disk and back onto it, then out of a quarantine on the RAM disk.
        return RoundTrip(dir.File("ram"), dir.File("data/quarantine"), "") + "|" +
               RoundTrip(dir.File("found"), dir.File("ram/quarantine"), dir.File("elsewhere2"));
    });
    if (result.rfind("SKIP", 0) == 0) GTEST_SKIP() << result << " (another file system)";
    EXPECT_EQ(result, std::string(kRoundTrip) + "|" + kRoundTrip) << "across file systems";
}

TEST(Quarantine, RestoreNeverWritesOverAnythingNorMakesAFolder) {
    TempDir dir;
    const std::string path = dir.File("evil.exe");
    Quarantine quarantine(dir.File("quarantine"));
    std::string ids[2];
    for (std::string& id : ids) {
        WriteFile(path, "evil");
        id = quarantine.MoveIn(path, FileIdOfPath(path), "evil.exe", QuarantineOrigin::kScan).id;
        ASSERT_FALSE(id.empty());
    }
    const std::string stored = dir.File("quarantine/") + ids[0];
    struct stat st;

    WriteFile(path, "newcomer");
    EXPECT_EQ(quarantine.Restore(ids[0]).status, RestoreStatus::kExists);
    EXPECT_EQ(ReadFile(path), "newcomer");
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", path.c_str()), 0);
    EXPECT_EQ(quarantine.Restore(ids[0]).status, RestoreStatus::kExists) << "a dangling link";
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(quarantine.Restore(ids[0], dir.File("missing/x")).status, RestoreStatus::kNoFolder);
    EXPECT_FALSE(FileExists(dir.File("missing")));
    for (const char* id : {"../../etc/passwd", "0123456789abcdef", ""})
        EXPECT_EQ(quarantine.Restore(id).status, RestoreStatus::kUnknownId) << id;
    ASSERT_EQ(lstat(stored.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u) << "stored again with no permissions after each refusal";

    // Stored bytes changed behind the record's back: never put back.
    const std::string damaged = dir.File("quarantine/") + ids[1];
    ASSERT_EQ(chmod(damaged.c_str(), 0600), 0);
    WriteFile(damaged, "evil!");
    EXPECT_EQ(quarantine.Restore(ids[1]).status, RestoreStatus::kDamaged);
    EXPECT_FALSE(FileExists(path));

    // A folder took the name: the file is not put into it, but it may go back under a new name.
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    EXPECT_EQ(quarantine.Restore(ids[0]).status, RestoreStatus::kExists);
    const RestoreResult renamed = quarantine.Restore(ids[0], dir.File("renamed.exe"));
    EXPECT_EQ(renamed.status, RestoreStatus::kRestored);
    EXPECT_EQ(renamed.path, dir.File("renamed.exe"));
    EXPECT_EQ(ReadFile(dir.File("renamed.exe")), "evil");
    EXPECT_EQ(quarantine.Restore(ids[0]).status, RestoreStatus::kUnknownId) << "restored once";
}

// Fails, or stops dead as a crash would, at every step of a move: the file is always in place
// unchanged, a failure leaves the quarantine as it was, and a crash leaves nothing a purge can't
// clear. Returns what went wrong, empty when nothing did.
std::string FailAtEveryStep(const std::string& from, const std::string& folder) {
    std::string wrong;
    const QuarantineStep steps[] = {QuarantineStep::kStore, QuarantineStep::kRecord,
                                    QuarantineStep::kUnlink};
    int n = 0;
    for (QuarantineStep step : steps) {
        for (int action : {EIO, kQuarantineHalt}) {
            const std::string what = "step " + std::to_string(static_cast<int>(step)) +
                                     (action == EIO ? " failing" : " halting") + ": ";
            const std::string path = from + "/f" + std::to_string(n++);
            const std::string bytes = Payload(path);
            WriteFile(path, bytes);
            chmod(path.c_str(), 0640);
            struct stat before, after;
            stat(path.c_str(), &before);
            QuarantineHooks hooks;
            hooks.beforeStep = [&](QuarantineStep s) { return s == step ? action : 0; };
            Quarantine quarantine(folder, hooks);
            QuarantineResult r =
                quarantine.MoveIn(path, FileIdOfPath(path), "x", QuarantineOrigin::kScan);
            if (r.status == QuarantineStatus::kMoved) wrong += what + "moved\n";
            if (lstat(path.c_str(), &after) != 0 || ReadFile(path) != bytes ||
                after.st_ino != before.st_ino || after.st_mode != before.st_mode) {
                wrong += what + "the file is not in place as it was\n";
            }
            std::vector<QuarantineRecord> items;
            quarantine.List(items);
            for (const QuarantineRecord& item : items) {
                if (item.md5 != Md5Of(path)) wrong += what + "an item without its file\n";
            }
            if (action == EIO && (!items.empty() || !Entries(folder).empty()))
                wrong += what + "the failed move left something behind\n";
            if (action == kQuarantineHalt) {
                QuarantineHooks later;
                later.clock = [] { return NowSeconds() + 7200; };
                Quarantine(folder, later).PurgeAll();
                if (!Entries(folder).empty()) wrong += what + "a purge left remains\n";
            }
        }
    }
    return wrong;
}

TEST(Quarantine, AFailureOrCrashAtAnyStepLosesNothing) {
    TempDir dir;
    MakeDirs(dir.File("found"));
    EXPECT_EQ(FailAtEveryStep(dir.File("found"), dir.File("quarantine")), "") << "linked in";

    MakeDirs(dir.File("ram"));
    MakeDirs(dir.File("small"));
    std::string result = InPrivateMounts([&]() -> std::string {
        if (mount("tmpfs", dir.File("ram").c_str(), "tmpfs", 0, "size=4m") != 0 ||
            mount("tmpfs", dir.File("small").c_str(), "tmpfs", 0, "size=64k") != 0) {
            return "SKIP: tmpfs can't be mounted";
        }
        std::string out = FailAtEveryStep(dir.File("ram"), dir.File("quarantine"));
        // A quarantine too small for the file: it stays, and nothing is left half-written.
        const std::string path = dir.File("found/big.bin");
        const std::string bytes = Payload("big");
        WriteFile(path, bytes);
        Quarantine small(dir.File("small/quarantine"));
        QuarantineResult r = small.MoveIn(path, FileIdOfPath(path), "x", QuarantineOrigin::kScan);
        if (r.status != QuarantineStatus::kNoSpace) out += "no space not told\n";
        if (ReadFile(path) != bytes) out += "the file did not stay\n";
        if (!Entries(dir.File("small/quarantine")).empty()) out += "a partial copy was left\n";
        return out;
    });
    if (result.rfind("SKIP", 0) == 0) GTEST_SKIP() << result << " (another file system)";
    EXPECT_EQ(result, "") << "copied in";
}

TEST(Quarantine, MovesOnlyTheJudgedRegularFileNeverThroughALink) {
    TempDir dir;
    const std::string file = dir.File("f");
    WriteFile(file, "x");
    const FileId id = FileIdOfPath(file);
    Quarantine quarantine(dir.File("quarantine"));
    auto move = [&](const std::string& path, const FileId& judged) {
        return quarantine.MoveIn(path, judged, "x", QuarantineOrigin::kProtectPage).status;
    };
    // A link to the very file, a folder and a missing path are never moved.
    ASSERT_EQ(symlink(file.c_str(), dir.File("link").c_str()), 0);
    EXPECT_EQ(move(dir.File("link"), id), QuarantineStatus::kNotJudged);
    EXPECT_TRUE(FileExists(dir.File("link")));
    ASSERT_EQ(mkdir(dir.File("d").c_str(), 0755), 0);
    EXPECT_EQ(move(dir.File("d"), FileIdOfPath(dir.File("d"))), QuarantineStatus::kNotJudged);
    EXPECT_EQ(move(dir.File("missing"), id), QuarantineStatus::kNotJudged);
    EXPECT_EQ(move("", id), QuarantineStatus::kNotJudged);
    EXPECT_EQ(move(file, FileId{id.device, id.inode + 1, true}), QuarantineStatus::kNotJudged);
    EXPECT_EQ(move(file, FileId{}), QuarantineStatus::kNotJudged);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(move(file, id), QuarantineStatus::kMoved);
    EXPECT_FALSE(FileExists(file));
}

TEST(Quarantine, PurgeByIdByAgeAndAll) {
    TempDir dir;
    int64_t now = 1000000;
    QuarantineHooks hooks;
    hooks.clock = [&] { return now; };
    Quarantine quarantine(dir.File("quarantine"), hooks);
    std::vector<std::string> ids;
    for (int day : {0, 10, 20}) {
        now = 1000000 + day * 86400;
        const std::string path = dir.File("f" + std::to_string(day));
        WriteFile(path, path);
        ids.push_back(quarantine.MoveIn(path, FileIdOfPath(path), "x", QuarantineOrigin::kScan).id);
    }
    EXPECT_EQ(quarantine.PurgeOlderThan(now - 15 * 86400), std::vector<std::string>{ids[0]});
    EXPECT_TRUE(quarantine.Purge(ids[1]));
    EXPECT_FALSE(quarantine.Purge(ids[1]));
    EXPECT_FALSE(quarantine.Purge("../quarantine"));
    std::vector<QuarantineRecord> items;
    ASSERT_EQ(quarantine.List(items), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].id, ids[2]);

    // What a crash left of a move goes only once it is an hour old: a younger one may be a move
    // still running in another process.
    // Bytes whose record can't be read can't be restored either: they go the same way.
    WriteFile(dir.File("quarantine/0123456789abcdef.part"), "half");
    WriteFile(dir.File("quarantine/fedcba9876543210"), "bytes");
    WriteFile(dir.File("quarantine/fedcba9876543210.rec"), "not a record");
    now = NowSeconds();
    EXPECT_EQ(quarantine.PurgeAll(), std::vector<std::string>{ids[2]});
    EXPECT_EQ(Entries(dir.File("quarantine")).size(), 3u);
    now = NowSeconds() + 7200;
    EXPECT_TRUE(quarantine.PurgeAll().empty());
    EXPECT_TRUE(Entries(dir.File("quarantine")).empty());
}

TEST(QuarantineRecord, ReadsBackWhatItWroteAndNothingElse) {
    QuarantineRecord r;
    r.pathBytes = "/home/u/a b\n\xff.exe";
    r.ownerId = 1000;
    r.groupId = 100;
    r.mode = 0100751;
    r.sizeBytes = 1234567890123;
    r.mtimeSec = -5;
    r.mtimeNsec = 7;
    r.atimeSec = 1700000000;
    r.atimeNsec = 999999999;
    r.md5 = std::string(32, 'a');
    r.sha256 = std::string(64, 'f');
    r.listedEntry = "名字.exe";
    r.time = 1700000001;
    r.origin = QuarantineOrigin::kProtectPage;
    const std::string text = FormatQuarantineRecord(r);
    QuarantineRecord back;
    ASSERT_TRUE(ParseQuarantineRecord(text, back));
    EXPECT_EQ(FormatQuarantineRecord(back), text);
    EXPECT_EQ(back.pathBytes, r.pathBytes);
    EXPECT_EQ(back.mode, r.mode);

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        return t.replace(t.find(from), from.size(), to);
    };
    const std::string broken[] = {
        text.substr(0, text.size() - 1),          // cut short
        text + "time 5\n",                        // a field twice
        text + "colour red\n",                    // unknown field
        replaced("tovarek-quarantine 1", "x 1"),  // not a record
        replaced("mode 100751", "mode 9"),        // not octal
        replaced(".000000007", ".0000000070"),    // ten digits of nanoseconds
        replaced("origin protect-page", "origin x"),
        replaced("md5 a", "md5 A"),
        replaced("entry e5", "entry g5"),
        replaced("\ntime 1700000001\n", "\n"),  // a field missing
    };
    for (const std::string& t : broken) EXPECT_FALSE(ParseQuarantineRecord(t, back)) << t;
}

}  // namespace
}  // namespace tovarek
