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

#include "platform/messages.h"
#include "update/list_fetch.h"

namespace tovarek {

class CoreState;
struct ImportOutcome;

class DownControlThread {
public:
    // The import a cycle hands its text to; ImportList unless a test puts another in.
    using Importer = int (*)(CoreState& app, int mode, std::u16string text, ImportOutcome* outcome,
                             const std::atomic<bool>* stop);

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
    // WM_LIST_DOWNLOAD_DONE to m_hNotifyWnd: wParam 0 when a body was received and handed to the
    // import (also when the document was unreadable), 1 when nothing usable was received or the
    // database failed under the import.
    void OnListDownload(uintptr_t wParam, intptr_t lParam);

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
    std::thread m_thread;
};

}  // namespace tovarek
