#include "tests/support/limited_child.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tovarek::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedAddressSpace = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedAddressSpace = true;
#else
constexpr bool kSanitizedAddressSpace = false;
#endif
#else
constexpr bool kSanitizedAddressSpace = false;
#endif

}  // namespace

std::string ChildOutcome::Describe() const {
    if (signal != 0) return "child killed by signal " + std::to_string(signal);
    return "child exit code " + std::to_string(exitCode);
}

ChildOutcome RunLimited(size_t addressSpaceBytes, int cpuSeconds,
                        const std::function<int()>& body) {
    ChildOutcome outcome;
    pid_t pid = fork();
    if (pid < 0) return outcome;
    if (pid == 0) {
        rlimit as{addressSpaceBytes, addressSpaceBytes};
        rlimit cpu{static_cast<rlim_t>(cpuSeconds), static_cast<rlim_t>(cpuSeconds)};
        // AddressSanitizer reserves terabytes of shadow address space, so there the bound on
        // memory is left to the plain build and only the CPU bound holds.
        if ((!kSanitizedAddressSpace && setrlimit(RLIMIT_AS, &as) != 0) ||
            setrlimit(RLIMIT_CPU, &cpu) != 0) {
            _exit(125);
        }
        _exit(body() & 0xff);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    return outcome;
}

}  // namespace tovarek::test
