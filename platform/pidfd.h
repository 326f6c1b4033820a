// A process descriptor: it pins one process, so a PID reused after the process ended is never
// signalled through it. Owns its descriptor; not copyable. Where the kernel has no pidfds the
// object falls back to the bare PID (kill), which is exactly as safe as kill can be.
#pragma once

#include <cstdint>

namespace tovarek {

class Pidfd {
public:
    Pidfd() = default;
    ~Pidfd();
    Pidfd(const Pidfd&) = delete;
    Pidfd& operator=(const Pidfd&) = delete;
    Pidfd(Pidfd&& other) noexcept;
    Pidfd& operator=(Pidfd&& other) noexcept;

    // Opens `pid`. False when it is gone or can't be opened.
    bool Open(uint32_t pid);
    bool IsOpen() const { return m_nPid != 0; }
    // SIGKILL through the descriptor. False when the kernel refused.
    bool Kill();
    void Close();

private:
    int m_nFd = -1;
    uint32_t m_nPid = 0;
};

}  // namespace tovarek
