#include "tests/support/private_run.h"

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tovarek::test {
namespace {

constexpr int kNoNamespace = 200;

}  // namespace

int RunWithPrivateRun(const std::function<int(int out)>& body, std::string& output,
                      std::string& why) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        why = strerror(errno);
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        // Private first, so that the tmpfs is never seen outside this child.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
            const std::string text = strerror(errno);
            if (write(pipeFds[1], text.data(), text.size()) < 0) _exit(kNoNamespace);
            _exit(kNoNamespace);
        }
        _exit(body(pipeFds[1]) & 0xff);
    }
    close(pipeFds[1]);
    output.clear();
    char buf[4096];
    for (;;) {
        ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buf, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        why = "the child did not end normally";
        return 255;
    }
    if (WEXITSTATUS(status) == kNoNamespace) {
        why = "private mount namespace: " + output;
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace tovarek::test
