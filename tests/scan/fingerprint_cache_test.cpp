#include "scan/fingerprint_cache.h"

#include <sys/stat.h>

#include <list>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int64_t kNow = 1'800'000'000'000'000'000;
constexpr char kDigest[] = "900150983cd24fb0d6963f7d28e17f72";
constexpr char kOther[] = "d41d8cd98f00b204e9800998ecf8427e";

FileIdentity Identity(uint64_t inode) {
    return {.device = 2049,
            .inode = inode,
            .sizeBytes = 4096,
            .mtimeNs = kNow - 86'400'000'000'000,
            .ctimeNs = kNow - 86'400'000'000'000};
}

std::string Looked(FingerprintCache& cache, const FileIdentity& id) {
    char text[33] = "(miss)";
    cache.Lookup(id, text);
    return text;
}

TEST(FingerprintCache, AnyChangedFieldIsANewFile) {
    FingerprintCache cache;
    const FileIdentity known = Identity(12);
    cache.Insert(known, kDigest, kNow);
    struct Case {
        const char* what;
        void (*change)(FileIdentity&);
    };
    const Case cases[] = {
        {"another device", [](FileIdentity& id) { id.device++; }},
        {"another inode", [](FileIdentity& id) { id.inode++; }},
        {"size", [](FileIdentity& id) { id.sizeBytes--; }},
        {"modification time, a nanosecond", [](FileIdentity& id) { id.mtimeNs++; }},
        // Rewritten, modification time put back: only the change time tells.
        {"change time, a nanosecond", [](FileIdentity& id) { id.ctimeNs++; }},
    };
    for (const Case& c : cases) {
        FileIdentity changed = known;
        c.change(changed);
        EXPECT_EQ(Looked(cache, changed), "(miss)") << c.what;
    }
    EXPECT_EQ(Looked(cache, known), kDigest);
    // The file read again replaces what was known of its inode.
    FileIdentity rewritten = known;
    rewritten.ctimeNs += 1000;
    cache.Insert(rewritten, kOther, kNow);
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_EQ(Looked(cache, known), "(miss)");
    EXPECT_EQ(Looked(cache, rewritten), kOther);
}

TEST(FingerprintCache, AFileChangedWithinTheSettleTimeIsNotKept) {
    FingerprintCache cache(100, 2'000'000'000);
    FileIdentity fresh = Identity(1);
    fresh.ctimeNs = kNow - 2'000'000'000 + 1;
    FileIdentity settled = Identity(2);
    settled.ctimeNs = kNow - 2'000'000'000;
    FileIdentity future = Identity(3);
    future.ctimeNs = kNow + 1'000'000'000;
    for (const FileIdentity& id : {fresh, settled, future}) cache.Insert(id, kDigest, kNow);
    EXPECT_EQ(Looked(cache, fresh), "(miss)");
    EXPECT_EQ(Looked(cache, settled), kDigest);
    EXPECT_EQ(Looked(cache, future), "(miss)");
    // Text that is no fingerprint is never kept.
    cache.Insert(Identity(4), "900150983CD24FB0D6963F7D28E17F72", kNow);
    EXPECT_EQ(cache.Size(), 1u);
}

// Random inserts and lookups on a small cache against a plain list kept in use order: the same
// answers, and the least recently used entry is the one that goes.
TEST(FingerprintCache, BoundedLeastRecentlyUsedOut) {
    constexpr size_t kMax = 37;
    FingerprintCache cache(kMax, 0);
    std::list<std::pair<uint64_t, std::string>> model;  // most recent first
    std::mt19937 rng(99);
    const char* digests[] = {kDigest, kOther};
    for (int step = 0; step < 20000; ++step) {
        const uint64_t inode = rng() % 80;
        auto it = model.begin();
        while (it != model.end() && it->first != inode) ++it;
        if (rng() % 2) {
            const std::string digest = digests[rng() % 2];
            cache.Insert(Identity(inode), digest.c_str(), kNow);
            if (it != model.end()) model.erase(it);
            model.push_front({inode, digest});
            if (model.size() > kMax) model.pop_back();
        } else {
            const std::string want = it == model.end() ? "(miss)" : it->second;
            ASSERT_EQ(Looked(cache, Identity(inode)), want) << "step " << step;
            if (it != model.end()) model.splice(model.begin(), model, it);
        }
        ASSERT_EQ(cache.Size(), model.size());
    }
}

TEST(FingerprintCache, SavedAndLoadedKeepsEntriesAndTheirUseOrder) {
    TempDir dir;
    const std::string path = dir.File(kFingerprintCacheFileName);
    FingerprintCache saved(3, 0);
    for (uint64_t inode : {1, 2, 3}) saved.Insert(Identity(inode), kDigest, kNow);
    Looked(saved, Identity(1));  // 2 is now the least recently used
    ASSERT_TRUE(saved.Save(path));
    FingerprintCache loaded(3, 0);
    ASSERT_TRUE(loaded.Load(path));
    EXPECT_EQ(loaded.Size(), 3u);
    loaded.Insert(Identity(4), kOther, kNow);
    EXPECT_EQ(Looked(loaded, Identity(2)), "(miss)");
    for (uint64_t inode : {1, 3}) EXPECT_EQ(Looked(loaded, Identity(inode)), kDigest);
    EXPECT_EQ(Looked(loaded, Identity(4)), kOther);
    // No temporary file is left beside it.
    struct stat st;
    EXPECT_NE(stat((path + ".XXXXXX").c_str(), &st), 0);
}

// Each case damages a good file one way; the cache must come up empty and not trust any of it.
TEST(FingerprintCache, ADamagedOrForeignFileIsDiscarded) {
    TempDir dir;
    const std::string path = dir.File(kFingerprintCacheFileName);
    FingerprintCache source(10, 0);
    source.Insert(Identity(7), kDigest, kNow);
    ASSERT_TRUE(source.Save(path));
    const std::string good = ReadFile(path);
    ASSERT_EQ(good.size(), 40u + 56u);
    struct Case {
        const char* what;
        std::string bytes;
    };
    auto flipped = [&](size_t at) {
        std::string b = good;
        b[at] ^= 0x01;
        return b;
    };
    const Case cases[] = {
        {"empty", ""},
        {"cut inside the header", good.substr(0, 20)},
        {"cut inside an entry", good.substr(0, good.size() - 1)},
        {"a byte more", good + "x"},
        {"another magic", flipped(0)},
        {"another version", flipped(8)},
        {"another entry size", flipped(12)},
        {"more entries than it holds", flipped(16)},
        {"a fingerprint bit flipped", flipped(40 + 50)},
        {"a change time bit flipped", flipped(40 + 32)},
        {"the checksum itself", flipped(24)},
    };
    for (const Case& c : cases) {
        WriteFile(path, c.bytes);
        FingerprintCache cache(10, 0);
        cache.Insert(Identity(8), kOther, kNow);
        EXPECT_FALSE(cache.Load(path)) << c.what;
        EXPECT_EQ(cache.Size(), 0u) << c.what;
        EXPECT_EQ(Looked(cache, Identity(7)), "(miss)") << c.what;
        // The damaged file is replaced at the next save, even with nothing new.
        EXPECT_TRUE(cache.Save(path));
        FingerprintCache again(10, 0);
        EXPECT_TRUE(again.Load(path)) << c.what;
    }
    WriteFile(path, good);
    FingerprintCache cache(10, 0);
    EXPECT_TRUE(cache.Load(path));
    EXPECT_EQ(Looked(cache, Identity(7)), kDigest);
    // A file with more entries than this cache may hold is not taken in part.
    cache.Insert(Identity(8), kOther, kNow);
    ASSERT_TRUE(cache.Save(path));
    FingerprintCache smaller(1, 0);
    EXPECT_FALSE(smaller.Load(path));
    EXPECT_EQ(smaller.Size(), 0u);
}

}  // namespace
}  // namespace tovarek
