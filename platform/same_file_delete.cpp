#include "platform/same_file_delete.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovarek {

bool DeleteFileIfSame(const std::string& path, dev_t device, ino_t inode) {
    const size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash + 1 == path.size()) return false;
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;
    struct stat st;
    bool deleted = fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISREG(st.st_mode) && st.st_dev == device && st.st_ino == inode &&
                   unlinkat(dirFd, name.c_str(), 0) == 0;
    close(dirFd);
    return deleted;
}

}  // namespace tovarek
