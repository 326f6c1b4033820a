#include "protect/exe_fingerprint_cache.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/mounts.h"
#include "scan/file_fingerprint.h"

namespace tovarek {

bool ExeFingerprintCache::SharedHolds(const char* path, dev_t dev) {
    if (!m_pShared) return false;
    auto known = m_mapSharedDevices.find(dev);
    if (known != m_mapSharedDevices.end()) return known->second;
    struct statfs sfs;
    const bool holds = statfs(path, &sfs) == 0 && IsFixedFileSystemMagic(sfs.f_type) &&
                       KeepsChangeTimeMagic(sfs.f_type) &&
                       !IsRemovableBlockDevice(major(dev), minor(dev));
    m_mapSharedDevices.emplace(dev, holds);
    return holds;
}

bool ExeFingerprintCache::Fingerprint(const std::string& path, char digestText[33]) {
    // Taken before the identity: a change after this moment moves the change time past it.
    const int64_t takenNs = RealTimeNs();
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        const FileIdentity now = IdentityOfStat(st);
        auto it = m_mapEntries.find({st.st_dev, st.st_ino});
        if (it != m_mapEntries.end() && it->second.identity == now) {
            memcpy(digestText, it->second.digest, 33);
            it->second.used = true;
            return true;
        }
        char digest[33];
        if (SharedHolds(path.c_str(), st.st_dev) && m_pShared->Lookup(now, digest)) {
            Entry& e = m_mapEntries[{st.st_dev, st.st_ino}];
            e.identity = now;
            memcpy(e.digest, digest, 33);
            e.used = true;
            memcpy(digestText, digest, 33);
            return true;
        }
    }
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    // The identity is taken from the open file before reading: a change during the read moves
    // the change time past it, so the next pass reads again.
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        return false;
    }
    const FileIdentity identity = IdentityOfStat(opened);
    char digest[33];
    if (opened.st_size > m_nLargeFileBytes) {
        // The descriptor goes with the file to the reader aside, or is closed there.
        int64_t readNs = 0;
        if (!m_largeFiles.TakeOrQueue(identity, fd, takenNs, digest, &readNs)) return false;
        // Read from the descriptor opened then, so it counts from the moment of that opening.
        Keep(identity, digest, path.c_str(), readNs);
    } else {
        bool ok = ComputeFdMd5(fd, digest);
        close(fd);
        if (!ok) return false;
        ++m_nFilesRead;
        Keep(identity, digest, path.c_str(), takenNs);
    }
    memcpy(digestText, digest, 33);
    return true;
}

void ExeFingerprintCache::Keep(const FileIdentity& identity, const char digest[33],
                               const char* path, int64_t takenNs) {
    Entry& e =
        m_mapEntries[{static_cast<dev_t>(identity.device), static_cast<ino_t>(identity.inode)}];
    e.identity = identity;
    memcpy(e.digest, digest, 33);
    e.used = true;
    if (SharedHolds(path, static_cast<dev_t>(identity.device))) {
        m_pShared->Insert(e.identity, digest, takenNs);
    }
}

void ExeFingerprintCache::EndPass() {
    for (auto it = m_mapEntries.begin(); it != m_mapEntries.end();) {
        if (!it->second.used) {
            it = m_mapEntries.erase(it);
        } else {
            it->second.used = false;
            ++it;
        }
    }
    m_mapSharedDevices.clear();
}

}  // namespace tovarek
