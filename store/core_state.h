// What the core shares between the windows and the worker threads: the blacklist index with its
// stale flag, the list date, the pending notice texts, the program's directory and its settings.
// The application state (app/) is one of these; the core and the command-line tool take this
// type, so no core file depends on the desktop program. The UI thread owns the public fields but
// the stale flag, which is atomic; the list date and the blacklist index are guarded, because
// the download worker and the protection pass reach them from their own threads.
#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>

#include "store/blacklist.h"

namespace tovarek {

class AppSettings;
class FingerprintCache;

class CoreState {
public:
    std::u16string m_strModuleDir;  // ends in '/'
    AppSettings* m_pSettings = nullptr;
    // Fingerprints of unchanged files, shared by the scans and the protection pass (owned by
    // the caller for the whole run; thread-safe). Null: every file is read.
    FingerprintCache* m_pFingerprintCache = nullptr;
    std::list<std::u16string> m_lstFindings;       // pop-up texts waiting to be shown
    std::list<std::u16string> m_lstInterceptions;  // pop-up texts waiting to be shown
    // Set when the table may hold rows the index lacks; only a reload that succeeded clears it.
    std::atomic<int> m_bBlacklistStale{0};

    // "%Y-%m-%d %H:%M:%S" of the last import, or "暂无更新"; any thread.
    std::u16string ListDate() const {
        std::lock_guard lock(m_listDateMutex);
        return m_strListDate;
    }
    void SetListDate(std::u16string date) {
        std::lock_guard lock(m_listDateMutex);
        m_strListDate = std::move(date);
    }

private:
    friend int GetSharedBlacklist(CoreState&, BlacklistView&, const std::function<bool()>&);
    // The current index (null until a load succeeded), swapped whole under m_blacklistMutex; one
    // reload at a time under m_reloadMutex, so readers never wait for a reload.
    BlacklistView m_pBlacklist;
    std::mutex m_blacklistMutex;
    std::mutex m_reloadMutex;
    mutable std::mutex m_listDateMutex;
    std::u16string m_strListDate;
};

// The core part of start-up: module directory, settings record (owned by the caller for the
// whole run), the stale index and the list date "暂无更新".
void InitCoreState(CoreState& state, AppSettings* settings);

}  // namespace tovarek
