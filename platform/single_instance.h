// The single-instance guard: an flock on "Tovarek.lock" in $XDG_RUNTIME_DIR (else
// /tmp/Tovarek-<uid>.lock). The kernel drops the lock of a copy that died, so a stale lock is
// simply taken over. One object per process, used on the start-up thread.
#pragma once

#include <string>

namespace tovarek {

enum class InstanceLock { kAcquired, kHeldByRunningCopy, kError };

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Tries once, without waiting. kError when the lock file can't be created or locked.
    InstanceLock Acquire();
    void Release();

    static std::string LockPath();

private:
    int m_nFd = -1;
};

}  // namespace tovarek
