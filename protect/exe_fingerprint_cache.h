// Fingerprints of executables, reused while the file's identity is unchanged. An entry is reused
// only when device, inode, size, modification time and change time (to the nanosecond) all match
// what stat sees now; any write to the file changes its change time, so a reused fingerprint is
// always the file's current one. Executables on fixed local file systems are shared with the scan
// through the program's fingerprint cache (kept between runs); the running ones are also kept
// here for the passes that follow. A file larger than a few dozen MiB is read on a thread of its
// own (LargeExeHasher): until its fingerprint is there it counts as unreadable, so it never holds
// up the others. Owned by one user (one thread); the shared cache is thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

#include "protect/large_exe_hasher.h"
#include "scan/fingerprint_cache.h"

namespace tovarek {

class ExeFingerprintCache {
public:
    // `shared` may be null (nothing kept between runs); it must outlive this object.
    static constexpr int64_t kLargeFileBytes = 64 << 20;

    // `shared` may be null (nothing kept between runs); it must outlive this object. Files above
    // `largeFileBytes` are read aside.
    explicit ExeFingerprintCache(FingerprintCache* shared = nullptr,
                                 int64_t largeFileBytes = kLargeFileBytes)
        : m_pShared(shared), m_nLargeFileBytes(largeFileBytes) {}
    ExeFingerprintCache(const ExeFingerprintCache&) = delete;
    ExeFingerprintCache& operator=(const ExeFingerprintCache&) = delete;

    // Fingerprint of the file at `path` (for a process, "/proc/<pid>/exe", which reaches what
    // actually runs even when deleted or replaced). False when it can't be opened, and for a
    // large file until it has been read aside (a later call then has it).
    bool Fingerprint(const std::string& path, char digestText[33]);

    // Drops the entries no call used since the last EndPass, so this cache holds only the
    // executables that are running, and forgets which file systems it looked at.
    void EndPass();

    // How many files were read in full since construction (the rest were reused), aside or not.
    uint64_t filesRead() const { return m_nFilesRead + m_largeFiles.filesRead(); }
    size_t size() const { return m_mapEntries.size(); }

private:
    struct Entry {
        FileIdentity identity;
        char digest[33];
        bool used = false;
    };
    // Whether the shared cache may hold a file of device `dev` (on which `path` lies).
    bool SharedHolds(const char* path, dev_t dev);

    void Keep(const FileIdentity& identity, const char digest[33], const char* path,
              int64_t takenNs);

    FingerprintCache* m_pShared;
    const int64_t m_nLargeFileBytes;
    // Keyed by device and inode.
    std::map<std::pair<dev_t, ino_t>, Entry> m_mapEntries;
    // Asked once a pass: a device number may name another file system by the next one.
    std::map<dev_t, bool> m_mapSharedDevices;
    uint64_t m_nFilesRead = 0;
    LargeExeHasher m_largeFiles;  // last: its thread ends before the rest goes
};

}  // namespace tovarek
