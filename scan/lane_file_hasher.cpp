#include "scan/lane_file_hasher.h"

#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

namespace tovarek {

LaneFileHasher::LaneFileHasher(Md5LanePath path, size_t chunkBytes)
    : m_lanes(path), m_nChunkBytes(chunkBytes < 64 ? 64 : (chunkBytes + 63) / 64 * 64) {
    constexpr size_t kPage = 4096;
    // A line apart from page alignment per lane: lanes mostly hash at the same offset of their
    // chunks, and chunks a power of two apart put those lines in one L1 set, eight ways deep
    // for 24 or 32 lanes (measured: a tenth off the first scan's CPU time).
    m_nStrideBytes = m_nChunkBytes + 64;
    const size_t bytes = (m_nStrideBytes * m_lanes.LaneCount() + kPage - 1) / kPage * kPage;
    m_pBuffers.reset(static_cast<unsigned char*>(std::aligned_alloc(kPage, bytes)));
    if (!m_pBuffers) throw std::bad_alloc();
}

void LaneFileHasher::FreeBuffers::operator()(unsigned char* p) const {
    std::free(p);
}

LaneFileHasher::~LaneFileHasher() = default;

void LaneFileHasher::Run(LaneFileSource& source) {
    const size_t lanes = m_lanes.LaneCount();
    for (;;) {
        size_t busy = 0;
        for (size_t lane = 0; lane < lanes; ++lane) {
            if (m_lanes.State(lane) != Md5Lanes::Lane::kFree) ++busy;
        }
        // Free lanes take the next files; only a hasher with nothing in hand waits for one.
        bool dry = false;
        for (size_t lane = 0; lane < lanes && !dry; ++lane) {
            while (m_lanes.State(lane) == Md5Lanes::Lane::kFree) {
                LaneFile file;
                if (!source.NextFile(file, busy == 0)) {
                    dry = true;
                    break;
                }
                m_slots[lane] = {file, 0};
                m_lanes.Begin(lane);
                if (FeedNext(source, lane)) ++busy;
            }
        }
        if (busy == 0) return;
        if (!source.KeepGoing()) {
            for (size_t lane = 0; lane < lanes; ++lane) {
                if (m_lanes.State(lane) != Md5Lanes::Lane::kFree)
                    Drop(source, lane, false, nullptr);
            }
            return;
        }
        m_lanes.Run();
        for (size_t lane = 0; lane < lanes; ++lane) {
            if (m_lanes.State(lane) == Md5Lanes::Lane::kDone) {
                unsigned char digest[16];
                m_lanes.Finish(lane, digest);
                Drop(source, lane, true, digest);
            } else if (m_lanes.State(lane) == Md5Lanes::Lane::kHungry) {
                FeedNext(source, lane);
            }
        }
    }
}

bool LaneFileHasher::FeedNext(LaneFileSource& source, size_t lane) {
    Slot& slot = m_slots[lane];
    unsigned char* buffer = m_pBuffers.get() + lane * m_nStrideBytes;
    const bool bounded = slot.file.sizeBytes > 0;
    size_t want = m_nChunkBytes;
    if (bounded && slot.file.sizeBytes - slot.offset < want) {
        want = static_cast<size_t>(slot.file.sizeBytes - slot.offset);
    }
    // A whole chunk, so every part but the last is whole blocks; a short read is not the end.
    size_t got = 0;
    bool atEnd = false;
    while (got < want) {
        ssize_t n = read(slot.file.fd, buffer + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // A digest of the first part would name another file.
            Drop(source, lane, false, nullptr);
            return false;
        }
        if (n == 0) {
            atEnd = true;
            break;
        }
        got += static_cast<size_t>(n);
    }
    slot.offset += got;
    const bool last = atEnd || (bounded && slot.offset >= slot.file.sizeBytes);
    m_lanes.Feed(lane, buffer, got, last);
    return true;
}

void LaneFileHasher::Drop(LaneFileSource& source, size_t lane, bool ok,
                          const unsigned char* digest) {
    static const char kHex[] = "0123456789abcdef";
    char text[33] = {};
    if (ok) {
        for (int i = 0; i < 16; ++i) {
            text[2 * i] = kHex[digest[i] >> 4];
            text[2 * i + 1] = kHex[digest[i] & 15];
        }
    }
    Slot& slot = m_slots[lane];
    close(slot.file.fd);
    if (m_lanes.State(lane) != Md5Lanes::Lane::kFree) m_lanes.Abandon(lane);
    void* token = slot.file.token;
    slot = Slot();
    source.FileDone(token, ok, text);
}

}  // namespace tovarek
