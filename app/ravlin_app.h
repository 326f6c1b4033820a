// The one application state of the desktop program: the core's shared state plus what only the
// windows use. Fields are touched by the UI thread; the core part documents its own exceptions.
#pragma once

#include <string>

#include "store/core_state.h"

namespace tovarek {

struct UiResources;

class CRavlinApp : public CoreState {
public:
    std::u16string m_strVersion;  // "%d.%d.%d.%d "
    UiResources* m_pUiRes = nullptr;
    int m_bDialogOpen = 0;
    int m_bScanRunning = 0;
    // 1 once the program has decided to end: code that resumes after a nested event loop (a
    // message box, a dialog, the folder chooser) then does nothing more.
    int m_bExiting = 0;
};

// The executable's directory (ending in '/'); also fills app.m_strVersion.
std::u16string ReadModuleInfo(CRavlinApp& app);

// Start-up of the state: the core part, the version and the flags. The settings
// record is created by the caller, which owns it for the whole run.
void InitAppState(CRavlinApp& app, AppSettings* settings);

}  // namespace tovarek
