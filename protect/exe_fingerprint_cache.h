// Fingerprints of executables, reused while the file's identity is unchanged. An entry is reused
// only when device, inode, size, modification time and change time (to the nanosecond) all match
// what stat sees now; any write to the file changes its change time, so a reused fingerprint is
// always the file's current one. Owned by one user (one thread); not shared.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

namespace tovarek {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t sizeBytes = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

class ExeFingerprintCache {
public:
    // Fingerprint of the file at `path` (for a process, "/proc/<pid>/exe", which reaches what
    // actually runs even when deleted or replaced). False when it can't be opened.
    bool Fingerprint(const std::string& path, char digestText[33]);

    // Drops the entries no call used since the last EndPass, so the cache holds only the
    // executables that are running.
    void EndPass();

    // How many files were read in full since construction (the rest were reused).
    uint64_t filesRead() const { return m_nFilesRead; }
    size_t size() const { return m_mapEntries.size(); }

private:
    struct Entry {
        FileIdentity identity;
        char digest[33];
        bool used = false;
    };
    // Keyed by device and inode.
    std::map<std::pair<dev_t, ino_t>, Entry> m_mapEntries;
    uint64_t m_nFilesRead = 0;
};

}  // namespace tovarek
