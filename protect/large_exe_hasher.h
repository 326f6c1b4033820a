// Fingerprints of large executables, read on a thread of their own so that one huge file never
// holds up the judgement of every other process. A file is handed over as an open descriptor
// with the identity it had when opened; its fingerprint is kept under that identity until it is
// taken. Thread-safe; the destructor stops a read in progress at its next chunk.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "scan/fingerprint_cache.h"

namespace tovarek {

class LargeExeHasher {
public:
    LargeExeHasher() = default;
    ~LargeExeHasher();
    LargeExeHasher(const LargeExeHasher&) = delete;
    LargeExeHasher& operator=(const LargeExeHasher&) = delete;

    // The fingerprint of the file of identity `id` when it has been read: taken out (true), with
    // in *readNs the `takenNs` it was queued with, or false when it is not ready. A file not yet
    // known is queued: `fd` (opened for reading, on that file; `takenNs` the clock read before
    // its identity was) is then owned by the hasher; otherwise, and when the queue is full, it is
    // closed here.
    bool TakeOrQueue(const FileIdentity& id, int fd, int64_t takenNs, char digestText[33],
                     int64_t* readNs);

    // How many files have been read in full since construction.
    uint64_t filesRead() const;

private:
    void Run();
    using Key = std::pair<dev_t, ino_t>;
    struct Job {
        FileIdentity id;
        int fd;
        int64_t takenNs;
    };
    struct Done {
        FileIdentity id;
        int64_t takenNs;
        char digest[33];
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::map<Key, FileIdentity> m_mapBusy;  // queued or being read
    std::map<Key, Done> m_mapDone;
    bool m_bStop = false;
    uint64_t m_nFilesRead = 0;
    std::thread m_thread;  // started with the first job
};

}  // namespace tovarek
