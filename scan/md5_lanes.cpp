#include "scan/md5_lanes.h"

#include <stdlib.h>
#include <string.h>

#include <cassert>
#include <initializer_list>

#include "scan/md5.h"

namespace tovarek {
namespace {

// RFC 1321, 3.3: the initial state words A, B, C, D.
constexpr uint32_t kInitA = 0x67452301;
constexpr uint32_t kInitB = 0xefcdab89;
constexpr uint32_t kInitC = 0x98badcfe;
constexpr uint32_t kInitD = 0x10325476;

void StoreLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

Md5LanePath ChooseMd5LanePath(const char* asked) {
    Md5LanePath best = Md5LanePath::kScalar;
    if (CpuRunsMd5LanePath(Md5LanePath::kAvx512)) {
        best = Md5LanePath::kAvx512;
    } else if (CpuRunsMd5LanePath(Md5LanePath::kAvx2)) {
        best = Md5LanePath::kAvx2;
    }
    if (asked) {
        for (Md5LanePath p : {Md5LanePath::kScalar, Md5LanePath::kAvx2, Md5LanePath::kAvx512}) {
            if (strcmp(asked, Md5LanePathName(p)) == 0 && p < best) best = p;
        }
    }
    return best;
}

bool CpuRunsMd5LanePath(Md5LanePath path) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    switch (path) {
        case Md5LanePath::kScalar:
            return true;
        case Md5LanePath::kAvx2:
            return __builtin_cpu_supports("avx2");
        case Md5LanePath::kAvx512:
            return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return path == Md5LanePath::kScalar;
#endif
}

Md5LanePath BestMd5LanePath() {
    static const Md5LanePath best = ChooseMd5LanePath(getenv("TOVAREK_MD5_LANES"));
    return best;
}

const char* Md5LanePathName(Md5LanePath path) {
    switch (path) {
        case Md5LanePath::kScalar:
            return "scalar";
        case Md5LanePath::kAvx2:
            return "avx2";
        case Md5LanePath::kAvx512:
            return "avx512";
    }
    return "scalar";
}

Md5Lanes::Md5Lanes(Md5LanePath path) : m_path(path) {
    // Below these counts a vector register runs mostly empty, and one stream after another on
    // the plain transform gets done sooner (measured: bench/run md5-lanes).
    switch (path) {
        case Md5LanePath::kAvx512:
            m_nLanes = 32;
            m_nOneStreamBelow = 2;
            break;
        case Md5LanePath::kAvx2:
            m_nLanes = 24;
            m_nOneStreamBelow = 2;
            break;
        case Md5LanePath::kScalar:
            m_nLanes = 8;
            m_nOneStreamBelow = kMaxLanes + 1;
            break;
    }
}

void Md5Lanes::Begin(size_t lane) {
    assert(m_lanes[lane].state == Lane::kFree);
    LaneData& l = m_lanes[lane];
    l.state = Lane::kHungry;
    l.totalBytes = 0;
    l.blocks = 0;
    l.padPending = false;
    l.inPad = false;
    m_a[lane] = kInitA;
    m_b[lane] = kInitB;
    m_c[lane] = kInitC;
    m_d[lane] = kInitD;
}

void Md5Lanes::Feed(size_t lane, const unsigned char* data, size_t bytes, bool last) {
    LaneData& l = m_lanes[lane];
    assert(l.state == Lane::kHungry);
    assert(last || bytes % 64 == 0);
    l.totalBytes += bytes;
    l.data = data;
    l.blocks = bytes / 64;
    l.state = Lane::kBusy;
    if (!last) {
        if (l.blocks == 0) l.state = Lane::kHungry;
        return;
    }
    // RFC 1321, 3.1-3.2: the tail, one 0x80 byte, zeros up to 56 modulo 64, then the message
    // length in bits, 64 bits little-endian. One block when the tail leaves room, else two.
    const size_t tail = bytes % 64;
    l.padBlocks = tail < 56 ? 1 : 2;
    const size_t padBytes = 64 * l.padBlocks;
    memcpy(l.pad, data + 64 * l.blocks, tail);
    l.pad[tail] = 0x80;
    memset(l.pad + tail + 1, 0, padBytes - tail - 1 - 8);
    const uint64_t bits = l.totalBytes << 3;
    StoreLe32(l.pad + padBytes - 8, static_cast<uint32_t>(bits));
    StoreLe32(l.pad + padBytes - 4, static_cast<uint32_t>(bits >> 32));
    l.padPending = l.blocks > 0;
    if (!l.padPending) {
        l.data = l.pad;
        l.blocks = l.padBlocks;
        l.inPad = true;
    }
}

void Md5Lanes::Run() {
    for (;;) {
        size_t busy[kMaxLanes];
        size_t count = 0;
        size_t fewest = 0;
        for (size_t i = 0; i < m_nLanes; ++i) {
            if (m_lanes[i].state != Lane::kBusy) continue;
            if (count == 0 || m_lanes[i].blocks < fewest) fewest = m_lanes[i].blocks;
            busy[count++] = i;
        }
        if (count == 0) return;
        if (count < m_nOneStreamBelow) {
            RunOneStream(busy, count, fewest);
        } else {
            RunVectors(busy, count, fewest);
        }
        bool someoneWaits = false;
        for (size_t k = 0; k < count; ++k) {
            LaneData& l = m_lanes[busy[k]];
            l.data += 64 * fewest;
            l.blocks -= fewest;
            if (l.blocks > 0) continue;
            if (l.padPending) {
                // Straight on into the padding: no need to come back to the caller.
                l.data = l.pad;
                l.blocks = l.padBlocks;
                l.padPending = false;
                l.inPad = true;
                continue;
            }
            l.state = l.inPad ? Lane::kDone : Lane::kHungry;
            someoneWaits = true;
        }
        if (someoneWaits) return;
    }
}

void Md5Lanes::RunOneStream(const size_t* busy, size_t count, size_t blocks) {
    for (size_t k = 0; k < count; ++k) {
        const size_t i = busy[k];
        uint32_t state[4] = {m_a[i], m_b[i], m_c[i], m_d[i]};
        const unsigned char* p = m_lanes[i].data;
        for (size_t n = 0; n < blocks; ++n, p += 64) Md5Transform(state, p);
        m_a[i] = state[0];
        m_b[i] = state[1];
        m_c[i] = state[2];
        m_d[i] = state[3];
    }
}

void Md5Lanes::RunVectors(const size_t* busy, size_t count, size_t blocks) {
    const size_t width = m_path == Md5LanePath::kAvx512 ? 16 : 8;
    const size_t groups = (count + width - 1) / width;
    md5_lanes_detail::Work work;
    for (size_t k = 0; k < groups * width; ++k) {
        // Places past the busy lanes read the first lane's bytes; their results are dropped.
        const size_t i = busy[k < count ? k : 0];
        work.a[k] = m_a[i];
        work.b[k] = m_b[i];
        work.c[k] = m_c[i];
        work.d[k] = m_d[i];
        work.ptrs[k] = m_lanes[i].data;
    }
    if (m_path == Md5LanePath::kAvx512) {
        md5_lanes_detail::TransformAvx512(work, groups, blocks);
    } else {
        md5_lanes_detail::TransformAvx2(work, groups, blocks);
    }
    for (size_t k = 0; k < count; ++k) {
        const size_t i = busy[k];
        m_a[i] = work.a[k];
        m_b[i] = work.b[k];
        m_c[i] = work.c[k];
        m_d[i] = work.d[k];
    }
}

void Md5Lanes::Finish(size_t lane, unsigned char digest[16]) {
    assert(m_lanes[lane].state == Lane::kDone);
    StoreLe32(digest, m_a[lane]);
    StoreLe32(digest + 4, m_b[lane]);
    StoreLe32(digest + 8, m_c[lane]);
    StoreLe32(digest + 12, m_d[lane]);
    Abandon(lane);
}

void Md5Lanes::Abandon(size_t lane) {
    LaneData& l = m_lanes[lane];
    l = LaneData();
    m_a[lane] = m_b[lane] = m_c[lane] = m_d[lane] = 0;
}

}  // namespace tovarek
