// Fingerprints many files at once on one thread: every lane of an Md5Lanes reads its file into
// a buffer of its own, a small file whole and a large one a chunk at a time, and a lane whose
// file ends takes the next file while the others go on. Memory stays at lanes x chunk bytes.
// A LaneFileHasher belongs to one thread; several run side by side on one source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "scan/md5_lanes.h"

namespace tovarek {

struct LaneFile {
    int fd = -1;             // open for reading at offset 0; the hasher closes it
    uint64_t sizeBytes = 0;  // read no further than this (its size when opened); 0: to the end
    void* token = nullptr;   // the caller's, handed back with the result
};

// Where the files come from and where their fingerprints go. Called on the hasher's thread.
class LaneFileSource {
public:
    virtual ~LaneFileSource() = default;
    // The next file to read. With `wait` (the hasher has nothing else to do) it may block until
    // a file is ready; false: none now, and with `wait`, none will come.
    virtual bool NextFile(LaneFile& file, bool wait) = 0;
    // The file's fingerprint (32 lower-case hex digits), or `ok` false when a read failed or the
    // file was dropped on a stop. Its descriptor is closed by then.
    virtual void FileDone(void* token, bool ok, const char digestText[33]) = 0;
    // Asked between reads, at most a chunk per lane apart: may block while the caller pauses;
    // false drops every file in hand (each reported not ok) and ends Run().
    virtual bool KeepGoing() = 0;
};

class LaneFileHasher {
public:
    static constexpr size_t kDefaultChunkBytes = 64 * 1024;

    // `chunkBytes` is rounded up to whole 64-byte blocks.
    explicit LaneFileHasher(Md5LanePath path = BestMd5LanePath(),
                            size_t chunkBytes = kDefaultChunkBytes);
    ~LaneFileHasher();
    LaneFileHasher(const LaneFileHasher&) = delete;
    LaneFileHasher& operator=(const LaneFileHasher&) = delete;

    // Reads and fingerprints files until the source has no more and every file taken is done,
    // or until KeepGoing() is false. The fingerprint of each file is that of ComputeFdMd5.
    void Run(LaneFileSource& source);

private:
    struct Slot {
        LaneFile file;
        uint64_t offset = 0;
    };
    // Reads the lane's next part and feeds it; false (file dropped, reported) on a read error.
    bool FeedNext(LaneFileSource& source, size_t lane);
    void Drop(LaneFileSource& source, size_t lane, bool ok, const unsigned char* digest);

    Md5Lanes m_lanes;
    size_t m_nChunkBytes;
    size_t m_nStrideBytes;  // from one lane's buffer to the next
    struct FreeBuffers {
        void operator()(unsigned char* p) const;
    };
    // One chunk per lane, each starting on a cache line: with buffers 16 bytes off one, the
    // kernel's copies took twice the first scan's system time.
    std::unique_ptr<unsigned char[], FreeBuffers> m_pBuffers;
    Slot m_slots[Md5Lanes::kMaxLanes];
};

}  // namespace tovarek
