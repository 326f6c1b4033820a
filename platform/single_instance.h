// The single-instance guard: an flock on "Tovarek.lock" in $XDG_RUNTIME_DIR; when that is unset
// or empty, in /run/user/<uid> if it is this user's private folder (what the session would have
// named), else /tmp/Tovarek-<uid>.lock. The kernel drops the lock of a copy that died, so a stale
// lock is simply taken over. One object per process, used on the start-up thread.
#pragma once

#include <string>

namespace tovarek {

// kCreateError: the lock file can't be opened or made, or it is not a regular file of this user
// (a link, or a file someone else put in /tmp first). kWaitError: the file is ours but flock
// failed for another reason than a running copy holding it.
enum class InstanceLock { kAcquired, kHeldByRunningCopy, kCreateError, kWaitError };

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Tries once, without waiting.
    InstanceLock Acquire();
    void Release();
    bool IsHeld() const { return m_nFd >= 0; }

    static std::string LockPath();

private:
    int m_nFd = -1;
};

}  // namespace tovarek
