#include "scan/scan_worker.h"

#include <utility>

#include "platform/path_text.h"
#include "platform/program_folders.h"
#include "scan/fingerprint_cache.h"
#include "store/app_settings.h"
#include "store/core_state.h"

namespace tovarek {

UITdScan::UITdScan(CoreState& app) : m_app(app) {
    // The queue is a member, so it exists before the thread runs and before any request.
    m_thread = std::thread([this] { Run(); });
}

UITdScan::~UITdScan() {
    m_control.Stop();
    m_queue.Post({WM_QUIT_THREAD, 0, 0});
    m_thread.join();
}

void UITdScan::PostScanRequest(const ScanRoots& roots, ScanRecordStore* scannedFiles,
                               ScanRecordStore* findings, const ScanList* list,
                               MessageSink* notifyWnd) {
    if (&roots != &m_roots) m_roots = roots;
    m_pScannedFiles = scannedFiles;
    m_pFindings = findings;
    m_pList = list;
    m_hNotifyWnd = notifyWnd;
    // The queue's lock orders these writes before the worker's reads.
    m_queue.Post({WM_SCAN_START, 0, 0});
}

void UITdScan::Run() {
    for (;;) {
        Message m = m_queue.Wait();
        if (m.message == WM_QUIT_THREAD) return;
        if (m.message == WM_SCAN_START) OnScanRequest();
    }
}

void UITdScan::OnScanRequest() {
    if (!m_pScannedFiles || !m_pFindings || !m_pList) return;
    // Read once: a change of the setting during the scan doesn't affect it.
    int deleteOnFind = m_app.m_pSettings ? m_app.m_pSettings->deleteOnFind.load() : 0;
    ScanOptions options = m_options;
    options.pControl = &m_control;
    if (!options.pFingerprintCache) options.pFingerprintCache = m_app.m_pFingerprintCache;
    {
        ScanJob job(*m_pScannedFiles, *m_pFindings, *m_pList, m_hNotifyWnd, deleteOnFind, options);
        for (const std::u16string& root : m_roots) {
            if (m_control.IsStopped()) break;
            ScanDirectory(job, Utf16ToPath(root));
        }
        // Handed over before the end message, which orders it before the page's read.
        m_outcome = std::move(job.m_outcome);
    }
    m_control.Post(m_hNotifyWnd, WM_SCAN_DONE, 0, 0);
    // Beside Ravlin.db; what a stopped scan read is as good as the rest.
    if (options.pFingerprintCache)
        options.pFingerprintCache->Save(DataFile(kFingerprintCacheFileName));
}

}  // namespace tovarek
