#include "protect/exe_fingerprint_cache.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scan/file_fingerprint.h"

namespace tovarek {
namespace {

FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.sizeBytes = st.st_size;
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

}  // namespace

bool ExeFingerprintCache::Fingerprint(const std::string& path, char digestText[33]) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        auto it = m_mapEntries.find({st.st_dev, st.st_ino});
        if (it != m_mapEntries.end() && it->second.identity == IdentityOf(st)) {
            memcpy(digestText, it->second.digest, 33);
            it->second.used = true;
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
    char digest[33];
    bool ok = ComputeFdMd5(fd, digest);
    close(fd);
    if (!ok) return false;
    ++m_nFilesRead;
    Entry& e = m_mapEntries[{opened.st_dev, opened.st_ino}];
    e.identity = IdentityOf(opened);
    memcpy(e.digest, digest, 33);
    e.used = true;
    memcpy(digestText, digest, 33);
    return true;
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
}

}  // namespace tovarek
