#include "platform/pidfd.h"

#include <errno.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tovarek {
namespace {

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

}  // namespace

Pidfd::~Pidfd() {
    Close();
}

Pidfd::Pidfd(Pidfd&& other) noexcept : m_nFd(other.m_nFd), m_nPid(other.m_nPid) {
    other.m_nFd = -1;
    other.m_nPid = 0;
}

Pidfd& Pidfd::operator=(Pidfd&& other) noexcept {
    if (this != &other) {
        Close();
        m_nFd = other.m_nFd;
        m_nPid = other.m_nPid;
        other.m_nFd = -1;
        other.m_nPid = 0;
    }
    return *this;
}

bool Pidfd::Open(uint32_t pid) {
    Close();
    if (pid == 0 || pid > 0x7FFFFFFFu) return false;
    long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u);
    if (fd >= 0) {
        m_nFd = static_cast<int>(fd);
        m_nPid = pid;
        return true;
    }
    // Kernels before 5.3: only the bare PID is left; it still has to exist now.
    if (errno == ENOSYS && kill(static_cast<pid_t>(pid), 0) == 0) {
        m_nPid = pid;
        return true;
    }
    return false;
}

bool Pidfd::Kill() {
    if (m_nPid == 0) return false;
    if (m_nFd >= 0) {
        return syscall(SYS_pidfd_send_signal, m_nFd, SIGKILL, nullptr, 0u) == 0;
    }
    return kill(static_cast<pid_t>(m_nPid), SIGKILL) == 0;
}

void Pidfd::Close() {
    if (m_nFd >= 0) close(m_nFd);
    m_nFd = -1;
    m_nPid = 0;
}

}  // namespace tovarek
