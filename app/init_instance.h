// Start-up and shutdown of the desktop program: the display check, the single-instance lock and
// its refusals, the shared state and resources, the main window's event loop, and the lock's
// release at the end. UI thread only.
#pragma once

#include <QString>

#include "platform/single_instance.h"

namespace tovarek {

// Exit statuses of the process.
constexpr int kExitNormal = 0;
constexpr int kExitAlreadyRunning = 1;
constexpr int kExitCannotStart = 255;

// Why start-up stops at the lock: the box text (also written to standard error) and the exit
// status. An empty text for a lock that was taken.
struct StartupRefusal {
    QString text;
    int status = kExitNormal;
};
StartupRefusal RefusalFor(InstanceLock outcome);

// True when Qt has somewhere to show windows: $DISPLAY or $WAYLAND_DISPLAY set, or a platform
// chosen through $QT_QPA_PLATFORM (offscreen, for example).
bool HasDisplay();

// The one line written instead of Qt's platform-plugin failure when HasDisplay() is false.
extern const char* const kNoDisplayLine;

// The whole run: returns the process's exit status.
int InitInstance(int& argc, char** argv);

}  // namespace tovarek
