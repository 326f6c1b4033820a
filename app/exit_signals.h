// SIGTERM and SIGINT as a call on the UI thread. The handlers only write one byte to a pipe; a
// QSocketNotifier on its other end runs the watcher's action in the event loop, where anything
// may be done. Install the handlers once, early; a signal that arrives before a watcher exists
// waits in the pipe and is acted on as soon as one does.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace tovarek {

// Makes the pipe and installs both handlers. False when either could not be set up (the
// signals then keep their default action). Repeated calls do nothing more.
bool InstallExitSignalHandlers();

// While it lives, each arrival of SIGTERM or SIGINT runs `action` on the thread that made it
// (the UI thread, with a running Qt event loop). One watcher at a time.
class ExitSignalWatcher {
public:
    explicit ExitSignalWatcher(std::function<void()> action);
    ~ExitSignalWatcher();
    ExitSignalWatcher(const ExitSignalWatcher&) = delete;
    ExitSignalWatcher& operator=(const ExitSignalWatcher&) = delete;

private:
    void OnReadable();

    std::function<void()> m_fnAction;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};

}  // namespace tovarek
