// The scan with many-lane fingerprinting threads and the fingerprint cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/fingerprint_cache.h"
#include "scan/scan_engine.h"
#include "tests/scan/scan_test_util.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::ListByContent;
using test::RecordingEnder;
using test::RecordingSink;
using test::TempDir;
using test::WriteFile;

// The scan's findings (full paths, in order) with `list` over `root`.
std::vector<std::string> Found(const std::string& root, const BlacklistMap& list,
                               const ScanOptions& options) {
    ScanRecordStore scanned;
    ScanRecordStore findings;
    RecordingSink sink(scanned, findings);
    RecordingEnder ender;
    ScanOptions o = options;
    o.pProcesses = &ender;
    o.ownExecutablePath = "/nonexistent/own-program";
    o.isRemovable = [](uint32_t, uint32_t) { return false; };
    {
        ScanList scanList;
        scanList.Assign(list);
        ScanJob job(scanned, findings, scanList, &sink, 0, o);
        ScanDirectory(job, root);
    }
    return test::Paths(findings);
}

// A mount table that calls the folder's file system `type`.
std::string MountInfoCalling(const std::string& folder, const std::string& type) {
    struct stat st;
    stat(folder.c_str(), &st);
    return "40 1 " + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)) +
           " / " + folder + " rw - " + type + " src rw\n";
}

TEST(ScanCache, EveryPathFindsEveryFileAroundBlockAndChunkBorders) {
    TempDir dir;
    const size_t sizes[] = {0, 55, 56, 63, 64, 65, 131071, 131072, 131073, 300000};
    BlacklistMap list;
    std::vector<std::string> expected;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::string path = dir.File("f" + std::to_string(i));
        std::string bytes(sizes[i], '\0');
        for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 7 + i);
        WriteFile(path, bytes);
        ListByContent(list, path);
    }
    const std::vector<std::string> all = Found(dir.path() + "/", list, ScanOptions{});
    ASSERT_EQ(all.size(), std::size(sizes));
    for (Md5LanePath path : {Md5LanePath::kScalar, Md5LanePath::kAvx2, Md5LanePath::kAvx512}) {
        if (!CpuRunsMd5LanePath(path)) continue;
        for (int threads : {1, 2}) {
            ScanOptions options;
            options.md5Path = path;
            options.hashThreads = threads;
            EXPECT_EQ(Found(dir.path() + "/", list, options), all)
                << Md5LanePathName(path) << ", threads " << threads;
        }
    }
}

// Files an earlier scan read come from the cache: a new list judges them at once, and a file
// changed in any way (even with its size and modification time put back) is read again. Cached
// files are settled as they are walked, between files that still wait for a read: with no
// fingerprinting thread and with two.
TEST(ScanCache, UnchangedFilesAreNotReadAgainAndANewListJudgesThemAtOnce) {
    for (int threads : {0, 2}) {
        SCOPED_TRACE(threads);
        TempDir dir;
        WriteFile(dir.File("a.bin"), "alpha");
        WriteFile(dir.File("b.bin"), "bravo");
        WriteFile(dir.File("big.bin"), std::string(300000, 'g'));
        const std::string root = dir.path() + "/";
        FingerprintCache cache(100, 0);
        ScanOptions options;
        options.pFingerprintCache = &cache;
        options.mountInfo = MountInfoCalling(dir.path(), "ext4");
        options.hashThreads = threads;

        BlacklistMap first;
        ListByContent(first, dir.File("a.bin"));
        EXPECT_EQ(Found(root, first, options), std::vector<std::string>{dir.File("a.bin")});
        EXPECT_EQ(cache.Inserts(), 3u);
        EXPECT_EQ(cache.Hits(), 0u);

        BlacklistMap second;
        ListByContent(second, dir.File("b.bin"));
        EXPECT_EQ(Found(root, second, options), std::vector<std::string>{dir.File("b.bin")});
        EXPECT_EQ(cache.Hits(), 3u);
        EXPECT_EQ(cache.Inserts(), 3u) << "nothing was read";

        // Same size, modification time put back: only the change time tells.
        struct stat before;
        ASSERT_EQ(stat(dir.File("b.bin").c_str(), &before), 0);
        WriteFile(dir.File("b.bin"), "BRAVO");
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.File("b.bin").c_str(), times, 0), 0);
        WriteFile(dir.File("a.bin"), "alpha, longer");
        BlacklistMap third;
        ListByContent(third, dir.File("a.bin"));
        ListByContent(third, dir.File("b.bin"));
        EXPECT_EQ(Found(root, third, options),
                  (std::vector<std::string>{dir.File("a.bin"), dir.File("b.bin")}));
        EXPECT_EQ(cache.Inserts(), 5u);
        EXPECT_EQ(cache.Hits(), 4u) << "the unchanged big.bin";
    }
}

// Only where a change time proves the content unchanged, and only once it has settled.
TEST(ScanCache, KeptOnlyOnFileSystemsThatKeepChangeTimesAndOnlyOnceSettled) {
    TempDir dir;
    WriteFile(dir.File("a.bin"), "alpha");
    struct Case {
        const char* fsType;
        int64_t settleNs;
        uint64_t kept;
    };
    const Case cases[] = {
        {"ext4", 0, 1},  {"xfs", 0, 1},
        {"vfat", 0, 0},  // its "change time" is the creation time
        {"ntfs3", 0, 0}, {"ext4", FingerprintCache::kDefaultSettleNs, 0},  // just written
    };
    for (const Case& c : cases) {
        FingerprintCache cache(100, c.settleNs);
        ScanOptions options;
        options.pFingerprintCache = &cache;
        options.mountInfo = MountInfoCalling(dir.path(), c.fsType);
        BlacklistMap list;
        ListByContent(list, dir.File("a.bin"));
        EXPECT_EQ(Found(dir.path() + "/", list, options).size(), 1u) << c.fsType;
        EXPECT_EQ(cache.Size(), c.kept) << c.fsType << " " << c.settleNs;
    }
}

}  // namespace
}  // namespace tovarek
