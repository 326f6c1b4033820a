// Which file a path or descriptor names, by device and inode: two paths (a directory link,
// merged /usr, a hard link, /proc/<pid>/exe) name the same file exactly when these agree.
// Pure calls on the file system; thread-safe.
#pragma once

#include <cstdint>
#include <string>

struct stat;

namespace tovarek {

struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool known = false;  // false: the file could not be looked at; equal to nothing
    bool SameFile(const FileId& other) const {
        return known && other.known && device == other.device && inode == other.inode;
    }
};

// The identity in a stat(2) result the caller already has.
FileId FileIdOfStat(const struct stat& st);
// stat(2) of `path` (links followed; "/proc/<pid>/exe" gives what the process runs).
FileId FileIdOfPath(const std::string& path);
FileId FileIdOfFd(int fd);
// The file this program runs from (/proc/self/exe), so no alias path hides it.
FileId OwnExecutableId();

}  // namespace tovarek
