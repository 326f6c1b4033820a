#include "tests/support/private_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace tovarek::test {

PrivateBus::PrivateBus() : m_pDir(std::make_unique<TempDir>()) {
    const std::string config = m_pDir->File("bus.conf");
    WriteFile(config,
              "<busconfig><type>session</type><listen>unix:dir=" + m_pDir->path() +
                  "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/></policy></busconfig>\n");
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
        // --print-address=3: the write end must be descriptor 3 and survive exec.
        if (pipeFds[1] == 3) {
            fcntl(3, F_SETFD, 0);
        } else {
            dup2(pipeFds[1], 3);
        }
        const std::string configArg = "--config-file=" + config;
        execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile",
               "--print-address=3", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    if (m_pid < 0) {
        close(pipeFds[0]);
        return;
    }
    // The address is one line; a daemon that failed closes the pipe without one.
    pollfd p = {pipeFds[0], POLLIN, 0};
    char buffer[512];
    size_t used = 0;
    while (used < sizeof buffer && poll(&p, 1, 5000) == 1) {
        const ssize_t n = read(pipeFds[0], buffer + used, sizeof buffer - used);
        if (n <= 0) break;
        used += static_cast<size_t>(n);
        if (buffer[used - 1] == '\n') {
            m_strAddress.assign(buffer, used - 1);
            break;
        }
    }
    close(pipeFds[0]);
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);  // our own child
        waitpid(m_pid, nullptr, 0);
    }
}

}  // namespace tovarek::test
