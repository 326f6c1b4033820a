// What the windows share: the core's state plus the few fields only the windows use. The
// program's application object is one of these; the pages take it by this type, so no window
// depends on start-up. UI thread only, but for what the core state documents.
#pragma once

#include <string>

#include "store/core_state.h"

namespace tovarek {

struct UiResources;

class UiState : public CoreState {
public:
    std::u16string m_strVersion;  // "%d.%d.%d.%d "
    UiResources* m_pUiRes = nullptr;
    int m_bDialogOpen = 0;
    int m_bScanRunning = 0;
    // 1 once the program has decided to end: code that resumes after a nested event loop (a
    // message box, a dialog, the folder chooser) then does nothing more.
    int m_bExiting = 0;
};

}  // namespace tovarek
