#include "platform/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace tovarek {

int OpenPathAt(int at, const char* name, struct stat& st) {
    int fd = openat(at, name, O_PATH | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int ReopenForReading(int pathFd, int procFdDir) {
    // The magic link names the inode the descriptor holds, whatever has become of its name.
    char link[32];
    if (procFdDir >= 0) {
        snprintf(link, sizeof link, "%d", pathFd);
        return openat(procFdDir, link, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    snprintf(link, sizeof link, "/proc/self/fd/%d", pathFd);
    return open(link, O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

int OpenProcFdDir() {
    return open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace tovarek
