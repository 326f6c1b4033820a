#include "app/exit_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace tovarek {
namespace {

int g_signalPipe[2] = {-1, -1};

// Async-signal-safe: write(2) only, errno kept for the interrupted code. A full pipe already
// holds a pending wake-up, so a failed write loses nothing.
void OnExitSignal(int) {
    const int saved = errno;
    const char byte = 1;
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

bool InstallExitSignalHandlers() {
    if (g_signalPipe[0] >= 0) return true;
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_signalPipe[0] = g_signalPipe[1] = -1;
        return false;
    }
    struct sigaction sa = {};
    sa.sa_handler = OnExitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    bool ok = sigaction(SIGTERM, &sa, nullptr) == 0;
    ok = sigaction(SIGINT, &sa, nullptr) == 0 && ok;
    return ok;
}

ExitSignalWatcher::ExitSignalWatcher(std::function<void()> action) : m_fnAction(std::move(action)) {
    if (g_signalPipe[0] < 0) return;
    m_pNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
}

ExitSignalWatcher::~ExitSignalWatcher() = default;

void ExitSignalWatcher::OnReadable() {
    // Several signals in a row are one request.
    char buf[64];
    while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
    }
    if (m_fnAction) m_fnAction();
}

}  // namespace tovarek
