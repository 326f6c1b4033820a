// The one application state that windows, pages and worker threads share. Plain C++ with no GUI
// type, so the core and the command-line tool use it too. Fields are touched by one thread at a
// time in the order the posted messages give; only the stale flag is read and written across
// threads without such an order, so it is atomic.
#pragma once

#include <atomic>
#include <list>
#include <string>

#include "store/blacklist.h"

namespace tovarek {

class AppSettings;
struct UiResources;

class CRavlinApp {
public:
    std::u16string m_strModuleDir;  // ends in '/'
    std::u16string m_strVersion;    // "%d.%d.%d.%d "
    std::u16string m_strListDate;   // "%Y-%m-%d %H:%M:%S" of the last import, or "暂无更新"
    UiResources* m_pUiRes = nullptr;
    AppSettings* m_pSettings = nullptr;
    int m_bDialogOpen = 0;
    int m_bScanRunning = 0;
    std::list<std::u16string> m_lstFindings;       // pop-up texts waiting to be shown
    std::list<std::u16string> m_lstInterceptions;  // pop-up texts waiting to be shown
    BlacklistMap m_mapBlacklist;
    std::atomic<int> m_bBlacklistStale{0};
};

// The executable's directory (ending in '/'); also fills app.m_strVersion.
std::u16string ReadModuleInfo(CRavlinApp& app);

// The core part of start-up: module directory and version, the list date, the flags. The settings
// record is created by the caller, which owns it for the whole run.
void InitAppState(CRavlinApp& app, AppSettings* settings);

}  // namespace tovarek
