// The list download worker: one thread with its own message queue for the whole run. The main
// window stores its sink in m_hNotifyWnd and posts WM_LIST_DOWNLOAD; each start message is one
// full cycle (fetch, import, one WM_LIST_DOWNLOAD_DONE to the sink). Start messages that arrive
// during a cycle wait in the queue and are handled in order. PostThreadMessage and m_hNotifyWnd
// may be used from any thread; the rest belongs to the owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include <mutex>

#include "platform/messages.h"
#include "update/list_cycle.h"
#include "update/list_fetch.h"

namespace tovarek {

class CoreState;
struct ImportOutcome;

class DownControlThread {
public:
    // The import a cycle hands its text to; ImportList unless a test puts another in.
    using Importer = ListImporter;

    explicit DownControlThread(CoreState& app);
    // Asks the loop to end, stops a transfer in progress and waits for the thread.
    ~DownControlThread();
    DownControlThread(const DownControlThread&) = delete;
    DownControlThread& operator=(const DownControlThread&) = delete;

    // Starts the thread (once); false when it could not be started or already runs.
    bool CreateThread();

    // Queues a message for the thread; safe from any thread, also before CreateThread.
    void PostThreadMessage(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);

    // One cycle on the calling thread; the loop calls it for each WM_LIST_DOWNLOAD. Posts
    // WM_LIST_DOWNLOAD_DONE to m_hNotifyWnd: wParam 0 when a signed list was handed to the import
    // (also when the document was unreadable) or the server answered that the list taken last is
    // unchanged (304), 1 when nothing usable was received, the list was refused or the database
    // failed.
    void OnListDownload(uintptr_t wParam, intptr_t lParam);

    // What the last cycle did; any thread, after its WM_LIST_DOWNLOAD_DONE arrived.
    ListCycleReport LastReport() const;

    // Where the result goes; written by the window just before each WM_LIST_DOWNLOAD.
    std::atomic<MessageSink*> m_hNotifyWnd{nullptr};

    // Set before CreateThread, read by the thread only.
    std::string m_strListUrl = kListUrl;
    TransferLimits m_limits;
    Importer m_pImport;

private:
    void Run();

    CoreState& m_app;
    MessageQueue m_queue;
    std::atomic<bool> m_bStopping{false};
    mutable std::mutex m_reportMutex;
    ListCycleReport m_lastReport;
    std::thread m_thread;
};

}  // namespace tovarek
