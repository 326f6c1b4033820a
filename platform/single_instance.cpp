#include "platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovarek {

SingleInstance::~SingleInstance() {
    Release();
}

std::string SingleInstance::LockPath() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/Tovarek.lock";
    // A copy started with the variable empty (a cron job, a shell that cleared it) must still
    // meet the copy of the desktop session, whose variable names this folder.
    const std::string own = "/run/user/" + std::to_string(getuid());
    struct stat st;
    if (lstat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        (st.st_mode & 077) == 0) {
        return own + "/Tovarek.lock";
    }
    return "/tmp/Tovarek-" + std::to_string(getuid()) + ".lock";
}

InstanceLock SingleInstance::Acquire() {
    if (m_nFd >= 0) return InstanceLock::kAcquired;
    // O_NOFOLLOW refuses a link; O_NONBLOCK keeps a FIFO planted under the name from blocking
    // the open. Whatever was opened must then be a regular file that this user owns: in a
    // shared /tmp anyone could have made the name first.
    int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return InstanceLock::kCreateError;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        return InstanceLock::kCreateError;
    }
    int r;
    do {
        r = flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        int err = errno;
        close(fd);
        return err == EWOULDBLOCK ? InstanceLock::kHeldByRunningCopy : InstanceLock::kWaitError;
    }
    m_nFd = fd;
    return InstanceLock::kAcquired;
}

void SingleInstance::Release() {
    if (m_nFd < 0) return;
    flock(m_nFd, LOCK_UN);
    close(m_nFd);
    m_nFd = -1;
}

}  // namespace tovarek
