#include "scan/md5_lanes.h"

#include <stdio.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/md5.h"
#include "tests/scan/md5_text.h"

namespace tovarek {
namespace {

std::string Hex(const unsigned char digest[16]) {
    char text[33];
    for (int i = 0; i < 16; ++i) snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

// Hashes every message through at most `lanesUsed` lanes, each message fed in parts of
// `partBytes` (0: whole), a lane taking the next message as soon as its own is done.
std::vector<std::string> LaneDigests(Md5Lanes& lanes, const std::vector<std::string>& messages,
                                     size_t lanesUsed, size_t partBytes) {
    std::vector<std::string> digests(messages.size());
    std::deque<size_t> queue;
    for (size_t i = 0; i < messages.size(); ++i) queue.push_back(i);
    std::vector<size_t> message(lanesUsed), offset(lanesUsed);
    auto feed = [&](size_t lane) {
        const std::string& m = messages[message[lane]];
        size_t n = m.size() - offset[lane];
        bool last = partBytes == 0 || n <= partBytes;
        if (!last) n = partBytes;
        lanes.Feed(lane, reinterpret_cast<const unsigned char*>(m.data()) + offset[lane], n, last);
        offset[lane] += n;
    };
    size_t left = messages.size();
    while (left > 0) {
        for (size_t lane = 0; lane < lanesUsed; ++lane) {
            if (lanes.State(lane) == Md5Lanes::Lane::kDone) {
                unsigned char digest[16];
                lanes.Finish(lane, digest);
                digests[message[lane]] = Hex(digest);
                --left;
            }
            if (lanes.State(lane) == Md5Lanes::Lane::kFree && !queue.empty()) {
                message[lane] = queue.front();
                offset[lane] = 0;
                queue.pop_front();
                lanes.Begin(lane);
            }
            if (lanes.State(lane) == Md5Lanes::Lane::kHungry) feed(lane);
        }
        lanes.Run();
    }
    return digests;
}

std::vector<Md5LanePath> PathsThisCpuRuns() {
    std::vector<Md5LanePath> paths;
    for (Md5LanePath p : {Md5LanePath::kScalar, Md5LanePath::kAvx2, Md5LanePath::kAvx512}) {
        if (CpuRunsMd5LanePath(p)) paths.push_back(p);
    }
    return paths;
}

// Lengths on both sides of every padding and block border, mixed so neighbouring lanes end at
// different blocks and one of them needs a second padding block.
const size_t kBorderLengths[] = {0, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 4097};

TEST(Md5Lanes, EveryLaneCountAgreesWithOneStreamOnEveryPathTheCpuRuns) {
    std::mt19937 rng(24);
    std::vector<std::string> pool;
    for (size_t i = 0; i < 2 * Md5Lanes::kMaxLanes + 7; ++i) {
        std::string m(kBorderLengths[(i * 7) % std::size(kBorderLengths)], '\0');
        for (char& c : m) c = static_cast<char>(rng());
        pool.push_back(m);
    }
    for (Md5LanePath path : PathsThisCpuRuns()) {
        Md5Lanes lanes(path);
        SCOPED_TRACE(Md5LanePathName(path));
        for (size_t used = 1; used <= lanes.LaneCount(); ++used) {
            // As many messages as lanes (all start together), then more: lanes are refilled.
            for (size_t count : {used, 2 * used + 3}) {
                std::vector<std::string> batch(pool.begin(), pool.begin() + count);
                for (size_t part : {size_t{0}, size_t{64}, size_t{192}}) {
                    std::vector<std::string> got = LaneDigests(lanes, batch, used, part);
                    for (size_t i = 0; i < batch.size(); ++i) {
                        ASSERT_EQ(got[i], test::Md5OfBytes(batch[i]))
                            << "lanes " << used << ", message " << i << " of " << count
                            << ", length " << batch[i].size() << ", parts " << part;
                    }
                }
            }
        }
    }
}

TEST(Md5Lanes, KnownDigestsInTheLastLaneOfAFullLoad) {
    // The RFC 1321 suite placed in the highest lanes, behind long neighbours, so a lane that
    // reads the wrong row of a register shows.
    const std::pair<std::string, std::string> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (Md5LanePath path : PathsThisCpuRuns()) {
        Md5Lanes lanes(path);
        std::vector<std::string> batch(lanes.LaneCount() - std::size(vectors),
                                       std::string(640, 'z'));
        for (const auto& v : vectors) batch.push_back(v.first);
        std::vector<std::string> got = LaneDigests(lanes, batch, lanes.LaneCount(), 0);
        for (size_t i = 0; i < std::size(vectors); ++i) {
            EXPECT_EQ(got[batch.size() - std::size(vectors) + i], vectors[i].second)
                << Md5LanePathName(path) << " " << vectors[i].first;
        }
    }
}

TEST(Md5Lanes, ThePathIsOneTheCpuRunsAndCanOnlyBeNarrowed) {
    const Md5LanePath widest = ChooseMd5LanePath(nullptr);
    EXPECT_TRUE(CpuRunsMd5LanePath(widest));
    EXPECT_TRUE(CpuRunsMd5LanePath(BestMd5LanePath()));
    EXPECT_EQ(ChooseMd5LanePath("scalar"), Md5LanePath::kScalar);
    EXPECT_EQ(ChooseMd5LanePath("no such path"), widest);
    // Asking for a wider path than the CPU has never gets it.
    for (const char* name : {"avx2", "avx512"}) {
        EXPECT_TRUE(CpuRunsMd5LanePath(ChooseMd5LanePath(name))) << name;
    }
    EXPECT_LE(static_cast<int>(ChooseMd5LanePath("avx2")), static_cast<int>(Md5LanePath::kAvx2));
}

}  // namespace
}  // namespace tovarek
