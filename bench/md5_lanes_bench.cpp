// md5-lanes-bench: the in-memory rate of each MD5 lane path this CPU runs, by how many lanes are
// busy at once (every lane fed 64 KiB parts of one warm buffer), against the one-stream
// transform. Prints GB/s per line; nothing is read from disk.
#include <stdio.h>
#include <time.h>

#include <vector>

#include "scan/md5.h"
#include "scan/md5_lanes.h"

using namespace tovarek;

namespace {

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr size_t kPartBytes = 64 * 1024;

// Bytes hashed per second with `busy` lanes kept fed for about `seconds`.
double LaneRate(Md5LanePath path, size_t busy, const std::vector<unsigned char>& data,
                double seconds) {
    Md5Lanes lanes(path);
    if (busy > lanes.LaneCount()) return 0;
    for (size_t i = 0; i < busy; ++i) lanes.Begin(i);
    uint64_t bytes = 0;
    const double start = Now();
    double now = start;
    while (now - start < seconds) {
        for (int round = 0; round < 16; ++round) {
            for (size_t i = 0; i < busy; ++i) {
                if (lanes.State(i) == Md5Lanes::Lane::kHungry) {
                    lanes.Feed(i, data.data() + 64 * i, kPartBytes, false);
                    bytes += kPartBytes;
                }
            }
            lanes.Run();
        }
        now = Now();
    }
    return static_cast<double>(bytes) / (now - start);
}

double OneStreamRate(const std::vector<unsigned char>& data, double seconds) {
    uint32_t state[4] = {1, 2, 3, 4};
    uint64_t bytes = 0;
    const double start = Now();
    double now = start;
    while (now - start < seconds) {
        for (size_t off = 0; off + 64 <= kPartBytes; off += 64)
            Md5Transform(state, data.data() + off);
        bytes += kPartBytes;
        now = Now();
    }
    if (state[0] == 0) printf(" ");  // keeps the work
    return static_cast<double>(bytes) / (now - start);
}

}  // namespace

int main() {
    std::vector<unsigned char> data(kPartBytes + 64 * Md5Lanes::kMaxLanes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 131 + 7);
    printf("one-stream: %.2f GB/s\n", OneStreamRate(data, 0.3) / 1e9);
    for (Md5LanePath path : {Md5LanePath::kScalar, Md5LanePath::kAvx2, Md5LanePath::kAvx512}) {
        if (!CpuRunsMd5LanePath(path)) {
            printf("%s: not run by this CPU\n", Md5LanePathName(path));
            continue;
        }
        for (size_t busy : {1, 2, 3, 4, 8, 16, 24, 32}) {
            double rate = LaneRate(path, busy, data, 0.2);
            if (rate > 0)
                printf("%s, %2zu lanes busy: %.2f GB/s\n", Md5LanePathName(path), busy, rate / 1e9);
        }
    }
    return 0;
}
