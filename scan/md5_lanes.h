// MD5 (RFC 1321) of many independent messages at once, one message in each 32-bit lane of the
// CPU's vector registers: AVX-512 runs two interleaved 16-lane registers (32 lanes), AVX2 three
// interleaved 8-lane registers (24 lanes), any other CPU our one-stream transform. The path is
// chosen once from the CPU; one binary runs everywhere. An Md5Lanes belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovarek {

enum class Md5LanePath { kScalar, kAvx2, kAvx512 };

// The widest path this CPU runs, asked once. TOVAREK_MD5_LANES=scalar|avx2|avx512 narrows it
// (to measure a narrower path on a wider CPU); it never picks a path the CPU lacks.
Md5LanePath BestMd5LanePath();
// The widest path this CPU runs, narrowed to `asked` (a path name, or null) when that is narrower.
Md5LanePath ChooseMd5LanePath(const char* asked);
bool CpuRunsMd5LanePath(Md5LanePath path);
const char* Md5LanePathName(Md5LanePath path);

// Each lane hashes one message, fed in parts as the caller has them. A lane is free, hungry
// (begun, waiting for its next part), busy (holding bytes to hash) or done (digest ready). Run()
// advances every busy lane together until one of them needs the caller; a lane whose message
// ended is taken with Finish() and may Begin() the next one at once, while the others go on.
class Md5Lanes {
public:
    static constexpr size_t kMaxLanes = 32;
    enum class Lane { kFree, kHungry, kBusy, kDone };

    explicit Md5Lanes(Md5LanePath path = BestMd5LanePath());
    Md5Lanes(const Md5Lanes&) = delete;
    Md5Lanes& operator=(const Md5Lanes&) = delete;

    Md5LanePath path() const { return m_path; }
    // 32, 24, or 8 for the one-stream path (which hashes its lanes one after the other).
    size_t LaneCount() const { return m_nLanes; }
    Lane State(size_t lane) const { return m_lanes[lane].state; }

    // A free lane starts a new message; it is then hungry.
    void Begin(size_t lane);
    // Gives a hungry lane the next `bytes` of its message. Every part but the last is a whole
    // number of 64-byte blocks; `last` ends the message, and the lane pads it itself. The bytes
    // are read in place: keep them unchanged until the lane is hungry or done again.
    void Feed(size_t lane, const unsigned char* data, size_t bytes, bool last);
    // Hashes until at least one busy lane has used up its part (is hungry or done); nothing when
    // no lane is busy. When few lanes are busy they run one-stream, which is then faster.
    void Run();
    // The 16-byte digest of a done lane (A..D little-endian); the lane is free again.
    void Finish(size_t lane, unsigned char digest[16]);
    // Drops whatever message the lane holds; it is free again.
    void Abandon(size_t lane);

    // Lanes that run together below which the one-stream transform takes over.
    size_t OneStreamBelow() const { return m_nOneStreamBelow; }

private:
    struct LaneData {
        Lane state = Lane::kFree;
        const unsigned char* data = nullptr;
        size_t blocks = 0;        // whole blocks left at `data`
        bool padPending = false;  // after them, the padding blocks in `pad`
        bool inPad = false;       // `data` points into `pad`: the message ends with these blocks
        size_t padBlocks = 0;
        uint64_t totalBytes = 0;
        unsigned char pad[128];
    };
    void RunOneStream(const size_t* busy, size_t count, size_t blocks);
    void RunVectors(const size_t* busy, size_t count, size_t blocks);

    Md5LanePath m_path;
    size_t m_nLanes;
    size_t m_nOneStreamBelow;
    LaneData m_lanes[kMaxLanes];
    // The state words, one array per word, so the vector paths load them directly.
    alignas(64) uint32_t m_a[kMaxLanes];
    alignas(64) uint32_t m_b[kMaxLanes];
    alignas(64) uint32_t m_c[kMaxLanes];
    alignas(64) uint32_t m_d[kMaxLanes];
};

namespace md5_lanes_detail {
// The vector kernels: `blocks` 64-byte blocks for each of `groups` registers' worth of lanes,
// states in the four arrays (packed from lane 0), lane i reading from ptrs[i] onwards.
struct Work {
    alignas(64) uint32_t a[Md5Lanes::kMaxLanes];
    alignas(64) uint32_t b[Md5Lanes::kMaxLanes];
    alignas(64) uint32_t c[Md5Lanes::kMaxLanes];
    alignas(64) uint32_t d[Md5Lanes::kMaxLanes];
    const unsigned char* ptrs[Md5Lanes::kMaxLanes];
};
void TransformAvx512(Work& work, size_t groups, size_t blocks);
void TransformAvx2(Work& work, size_t groups, size_t blocks);
}  // namespace md5_lanes_detail

}  // namespace tovarek
