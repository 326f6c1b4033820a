#include "update/down_control_thread.h"

#include <curl/curl.h>

#include <system_error>

#include "update/list_import.h"

namespace tovarek {

DownControlThread::DownControlThread(CoreState& app) : m_pImport(ImportList), m_app(app) {}

DownControlThread::~DownControlThread() {
    m_bStopping.store(true);
    PostThreadMessage(WM_QUIT_THREAD);
    if (m_thread.joinable()) m_thread.join();
}

bool DownControlThread::CreateThread() {
    if (m_thread.joinable()) return false;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void DownControlThread::PostThreadMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    m_queue.Post(Message{message, wParam, lParam});
}

void DownControlThread::Run() {
    for (;;) {
        Message m = m_queue.Wait();
        if (m.message == WM_QUIT_THREAD) return;
        if (m.message == WM_LIST_DOWNLOAD) OnListDownload(m.wParam, m.lParam);
    }
}

void DownControlThread::OnListDownload(uintptr_t, intptr_t) {
    // Repeated on every cycle as the program always did; libcurl only counts the calls, and
    // since 7.84 the call is thread-safe.
    curl_global_init(CURL_GLOBAL_ALL);
    ListTransfer transfer;
    transfer.limits = m_limits;
    transfer.pStop = &m_bStopping;
    transfer.pHandle = curl_easy_init();
    std::string text = FetchListText(transfer, m_strListUrl);
    uintptr_t result = 1;
    if (!text.empty()) {
        // The text is code page 936 (FetchListText made it so); it is decoded as such, whatever
        // the locale's code page. Each form is dropped as soon as the next exists, and the wide
        // text moves into the document, so a list is never held more than twice.
        std::u16string wide = GbkToWide(text);
        std::string().swap(text);
        // A document the import cannot read still counts as a body received; a database that
        // failed under the import does not.
        // The worker's own end stops the import after its record in hand.
        const int imported = m_pImport(m_app, kImportText, std::move(wide), nullptr, &m_bStopping);
        result = imported == kImportDbFailed || imported == kImportStopped ? 1 : 0;
    }
    MessageSink* sink = m_hNotifyWnd.load();
    if (sink) sink->PostMessage(WM_LIST_DOWNLOAD_DONE, result, 0);
    if (transfer.pHandle) curl_easy_cleanup(static_cast<CURL*>(transfer.pHandle));
}

}  // namespace tovarek
