// Fingerprints of files that have not changed since they were read, so an unchanged file is not
// read again. An entry is reused only while device, inode, size, modification time and change
// time (to the nanosecond) are all what they were: every write to a file moves its change time,
// which no user can set, so a file rewritten and touched back to its old modification time is
// read again. It holds fingerprints, never verdicts: a new list judges every cached file at once.
// Callers keep it to files on fixed local file systems. Any thread may call it at any time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct stat;

namespace tovarek {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t sizeBytes = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOfStat(const struct stat& st);

// Saved beside Ravlin.db, which is opened by its bare name.
constexpr const char* kFingerprintCacheFileName = "Ravlin.fpcache";

// The realtime clock in nanoseconds, the clock file times are taken from.
int64_t RealTimeNs();

class FingerprintCache {
public:
    static constexpr size_t kDefaultMaxEntries = 4u << 20;
    // A file changed this recently may change again within the same tick of the file time (or
    // the same second, on file systems that keep seconds) without its change time moving.
    static constexpr int64_t kDefaultSettleNs = 2'000'000'000;

    explicit FingerprintCache(size_t maxEntries = kDefaultMaxEntries,
                              int64_t settleNs = kDefaultSettleNs);
    FingerprintCache(const FingerprintCache&) = delete;
    FingerprintCache& operator=(const FingerprintCache&) = delete;

    // The fingerprint text of an unchanged file, which becomes the most recently used; false
    // when the file is unknown or any of its five fields differ.
    bool Lookup(const FileIdentity& id, char digestText[33]);
    // Records the fingerprint of the file that had identity `id` at `takenNs` (RealTimeNs(),
    // read before the identity was), replacing what was known of that device and inode. A
    // change time within the settle time before `takenNs` is not trusted yet: nothing is kept.
    // The least recently used entry goes when the cache is full.
    void Insert(const FileIdentity& id, const char digestText[33], int64_t takenNs);

    size_t Size() const;
    // Lookups answered and entries recorded since construction.
    uint64_t Hits() const;
    uint64_t Inserts() const;

    // Replaces the content with the file at `path`. A missing, damaged or foreign file (another
    // format, version or size, a wrong checksum) is never trusted: false, and the cache is empty.
    bool Load(const std::string& path);
    // Writes the entries, least recently used first, to `path` through a new file renamed over
    // it, so a reader sees the old file or the new one; a torn write fails the checksum. Skipped
    // (true) when nothing was recorded since the last load or save. False when it can't write.
    bool Save(const std::string& path);

private:
    struct Entry {
        FileIdentity id;
        unsigned char digest[16];
        uint32_t newer;  // towards the most recently used; kNone at the head
        uint32_t older;
    };
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    uint32_t FindLocked(uint64_t device, uint64_t inode) const;
    size_t HomeOf(uint64_t device, uint64_t inode) const;
    void PlaceLocked(uint32_t index);
    void RemoveFromTableLocked(uint32_t index);
    void GrowTableLocked();
    void UnlinkLocked(uint32_t index);
    void LinkAtHeadLocked(uint32_t index);
    void InsertLocked(const FileIdentity& id, const unsigned char digest[16]);
    void ClearLocked();

    const size_t m_nMaxEntries;
    const int64_t m_nSettleNs;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::vector<uint32_t> m_table;  // open addressing by device and inode; kNone: empty
    uint32_t m_head = kNone;        // most recently used
    uint32_t m_tail = kNone;        // least recently used
    uint64_t m_nHits = 0;
    uint64_t m_nInserts = 0;
    bool m_bChanged = false;
};

}  // namespace tovarek
