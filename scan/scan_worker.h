// UITdScan: the thread that runs one scan. It owns its message queue from construction, so a
// request posted right after creation is never lost. Pause, continue and stop are requests the
// scan checks between files and between directory entries; no thread is suspended or killed
// from outside. After Stop() returns the worker posts nothing more.
#pragma once

#include <thread>

#include "platform/messages.h"
#include "scan/scan_engine.h"

namespace tovarek {

class CoreState;

class UITdScan {
public:
    // Begins the thread; it waits in its message loop for the request.
    explicit UITdScan(CoreState& app);
    // Stops a running scan, ends the thread and waits for it.
    ~UITdScan();
    UITdScan(const UITdScan&) = delete;
    UITdScan& operator=(const UITdScan&) = delete;

    // On the UI thread: stores the request in the members, then posts WM_SCAN_START. The stores,
    // the list and the window must outlive the scan; the page owns them.
    void PostScanRequest(const ScanRoots& roots, ScanRecordStore* scannedFiles,
                         ScanRecordStore* findings, const ScanList* list, MessageSink* notifyWnd);

    void Pause() { m_control.Pause(); }
    void Continue() { m_control.Continue(); }
    void Stop() { m_control.Stop(); }

    // For tests: what a finding does to processes, and the fingerprinting threads. Set before
    // the request is posted.
    ScanOptions& Options() { return m_options; }

    // What the last scan could not cover. Read it once WM_SCAN_DONE has arrived.
    const ScanOutcome& Outcome() const { return m_outcome; }

private:
    void Run();
    void OnScanRequest();

    ScanRoots m_roots;
    ScanRecordStore* m_pScannedFiles = nullptr;
    ScanRecordStore* m_pFindings = nullptr;
    const ScanList* m_pList = nullptr;
    MessageSink* m_hNotifyWnd = nullptr;

    CoreState& m_app;
    ScanOptions m_options;
    ScanOutcome m_outcome;
    ScanControl m_control;
    MessageQueue m_queue;
    std::thread m_thread;
};

}  // namespace tovarek
