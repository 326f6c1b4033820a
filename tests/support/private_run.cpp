#include "tests/support/private_run.h"

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tovarek::test {

int RunWithPrivateRun(const std::function<int(int out)>& body, std::string& output,
                      std::string& why) {
    constexpr int kNoNamespace = 200;
    int fds[2];
    if (pipe(fds) != 0) return why = strerror(errno), -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // Private first, so that the tmpfs is never seen outside this child.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755")) {
            const std::string text = strerror(errno);
            _exit(write(fds[1], text.data(), text.size()) < 0 ? kNoNamespace : kNoNamespace);
        }
        _exit(body(fds[1]) & 0xff);
    }
    close(fds[1]);
    output.clear();
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) output.append(buf, n);
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 255;
    if (WEXITSTATUS(status) != kNoNamespace) return WEXITSTATUS(status);
    why = "no private mount namespace: " + output;
    return -1;
}

}  // namespace tovarek::test
