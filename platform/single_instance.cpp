#include "platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

namespace tovarek {

SingleInstance::~SingleInstance() {
    Release();
}

std::string SingleInstance::LockPath() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/Tovarek.lock";
    return "/tmp/Tovarek-" + std::to_string(getuid()) + ".lock";
}

InstanceLock SingleInstance::Acquire() {
    if (m_nFd >= 0) return InstanceLock::kAcquired;
    int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceLock::kError;
    int r;
    do {
        r = flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        int err = errno;
        close(fd);
        return err == EWOULDBLOCK ? InstanceLock::kHeldByRunningCopy : InstanceLock::kError;
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
