#include "platform/file_id.h"

#include <sys/stat.h>

namespace tovarek {

FileId FileIdOfStat(const struct stat& st) {
    FileId id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.known = true;
    return id;
}

FileId FileIdOfPath(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return {};
    return FileIdOfStat(st);
}

FileId FileIdOfFd(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return {};
    return FileIdOfStat(st);
}

FileId OwnExecutableId() {
    return FileIdOfPath("/proc/self/exe");
}

}  // namespace tovarek
