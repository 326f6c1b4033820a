#include "scan/lane_file_hasher.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/md5.h"
#include "tests/scan/md5_text.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::TempDir;
using test::WriteFile;

using test::Md5OfBytes;

// Hands out the given files in order; records what comes back. `stopAfter` results end the run.
struct Source : LaneFileSource {
    struct Want {
        std::string path;
        uint64_t sizeBytes;  // as handed to the hasher
        int fd = -1;
    };
    std::vector<Want> files;
    size_t next = 0;
    size_t stopAfter = SIZE_MAX;
    std::map<size_t, std::string> results;  // index -> digest, or "(failed)"
    std::vector<int> handedFds;

    bool NextFile(LaneFile& file, bool) override {
        if (next == files.size()) return false;
        Want& w = files[next];
        file.fd = w.fd >= 0 ? w.fd : open(w.path.c_str(), O_RDONLY | O_CLOEXEC);
        file.sizeBytes = w.sizeBytes;
        file.token = reinterpret_cast<void*>(next);
        handedFds.push_back(file.fd);
        ++next;
        return true;
    }
    void FileDone(void* token, bool ok, const char digestText[33]) override {
        results[reinterpret_cast<size_t>(token)] = ok ? std::string(digestText) : "(failed)";
    }
    bool KeepGoing() override { return results.size() < stopAfter; }
};

TEST(LaneFileHasher, EveryFileAsOneStreamWouldReadItOnEveryPath) {
    TempDir dir;
    std::mt19937 rng(7);
    // Sizes around the padding and chunk borders; the chunk is 192 bytes, so larger files come
    // in several parts, and lanes refill while long files are still in their lanes.
    const size_t sizes[] = {0, 55, 56, 63, 64, 65, 191, 192, 193, 384, 1000, 5000, 70000};
    std::vector<std::string> contents;
    for (size_t i = 0; i < 3 * std::size(sizes); ++i) {
        std::string bytes(sizes[(i * 5) % std::size(sizes)], '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        WriteFile(dir.File("f" + std::to_string(i)), bytes);
        contents.push_back(bytes);
    }
    for (Md5LanePath path : {Md5LanePath::kScalar, Md5LanePath::kAvx2, Md5LanePath::kAvx512}) {
        if (!CpuRunsMd5LanePath(path)) continue;
        SCOPED_TRACE(Md5LanePathName(path));
        LaneFileHasher hasher(path, 192);
        Source source;
        for (size_t i = 0; i < contents.size(); ++i) {
            source.files.push_back({dir.File("f" + std::to_string(i)), contents[i].size()});
        }
        hasher.Run(source);
        ASSERT_EQ(source.results.size(), contents.size());
        for (size_t i = 0; i < contents.size(); ++i) {
            EXPECT_EQ(source.results[i], Md5OfBytes(contents[i])) << contents[i].size();
        }
        // Every descriptor was closed.
        for (int fd : source.handedFds) EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    }
}

// Read as one stream reads it: up to the size the file had when opened, or to its end when it
// shrank since; size 0 (a kernel file) to the end. A read error gives no fingerprint at all.
TEST(LaneFileHasher, SizeBoundsShortFilesAndReadErrors) {
    TempDir dir;
    const std::string bytes(1000, 'x');
    WriteFile(dir.File("f"), bytes);
    Source source;
    source.files.push_back({dir.File("f"), 300});   // grew since it was opened
    source.files.push_back({dir.File("f"), 5000});  // shrank since
    source.files.push_back({dir.File("f"), 0});     // no size known
    source.files.push_back({dir.path(), 10});       // reading fails (a folder)
    source.files.push_back({dir.File("f"), bytes.size()});
    LaneFileHasher hasher(BestMd5LanePath(), 256);
    hasher.Run(source);
    EXPECT_EQ(source.results[0], Md5OfBytes(bytes.substr(0, 300)));
    EXPECT_EQ(source.results[1], Md5OfBytes(bytes));
    EXPECT_EQ(source.results[2], Md5OfBytes(bytes));
    EXPECT_EQ(source.results[3], "(failed)");
    EXPECT_EQ(source.results[4], Md5OfBytes(bytes));
}

TEST(LaneFileHasher, AStopDropsEveryFileInHandAndClosesIt) {
    TempDir dir;
    WriteFile(dir.File("big"), std::string(1 << 20, 'b'));
    WriteFile(dir.File("small"), "s");
    Source source;
    for (int i = 0; i < 6; ++i) source.files.push_back({dir.File("big"), 1 << 20});
    source.files.push_back({dir.File("small"), 1});
    source.stopAfter = 1;  // stop once the small file is done, long before the big ones
    LaneFileHasher hasher(BestMd5LanePath(), 4096);
    hasher.Run(source);
    ASSERT_EQ(source.results.size(), source.files.size());
    EXPECT_EQ(source.results[6], Md5OfBytes("s"));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(source.results[i], "(failed)") << i;
    for (int fd : source.handedFds) EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

}  // namespace
}  // namespace tovarek
