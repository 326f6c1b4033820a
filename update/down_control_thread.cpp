#include "update/down_control_thread.h"

#include <curl/curl.h>

#include <system_error>

#include "platform/code_page.h"
#include "platform/journal.h"
#include "store/core_state.h"
#include "update/list_import.h"

namespace tovarek {

namespace {

// The cycle's outcome in the words of the status line, for the system journal.
void JournalListOutcome(const CoreState& app, const ListCycleReport& report) {
    JournalRecord record;
    if (report.Succeeded()) {
        record.event = JournalEvent::kListUpdated;
        record.message = "列表更新日期：" + Utf16ToUtf8(app.ListDate());
    } else {
        record.event = JournalEvent::kListFailed;
        record.message = "列表更新失败. " + report.strProblem;
    }
    SendJournalRecord(record);
}

}  // namespace

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
    // On every cycle: libcurl only counts the calls, and since 7.84 the call is thread-safe.
    curl_global_init(CURL_GLOBAL_ALL);
    ListTransfer transfer;
    transfer.limits = m_limits;
    transfer.pStop = &m_bStopping;
    transfer.pHandle = curl_easy_init();
    // The worker's own end stops the import after its record in hand.
    ListCycleReport report = RunListCycle(m_app, transfer, m_strListUrl, m_pImport, &m_bStopping);
    const uintptr_t result = report.Succeeded() ? 0 : 1;
    if (report.kind != ListCycleReport::kStopped) JournalListOutcome(m_app, report);
    {
        std::lock_guard lock(m_reportMutex);
        m_lastReport = std::move(report);
    }
    MessageSink* sink = m_hNotifyWnd.load();
    if (sink) sink->PostMessage(WM_LIST_DOWNLOAD_DONE, result, 0);
    if (transfer.pHandle) curl_easy_cleanup(static_cast<CURL*>(transfer.pHandle));
}

ListCycleReport DownControlThread::LastReport() const {
    std::lock_guard lock(m_reportMutex);
    return m_lastReport;
}

}  // namespace tovarek
