// One scan from its start to its last record: the roots, the list, the stores, the worker
// thread and its control, the start time and the outcome, and what is done with the findings
// afterwards (their processes ended and their files moved into quarantine, the summary and the
// scan log). The scan page and the command line only start one and show what it reports.
//
// Stop() takes effect at once, whatever file is being read, and never waits for the worker: a
// stopped session finishes on its own thread while a new one may already run. The owner joins it
// later (Join(), or the destructor, which stops it first).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scan/scan_engine.h"
#include "scan/scan_message_gate.h"
#include "scan/scan_stores.h"
#include "store/scan_list.h"

namespace tovarek {

class CoreState;

struct ScanSessionSetup {
    ScanRoots roots;  // walked in this order, each ending in '/'
    std::shared_ptr<const ScanList> list;
    // With no `list`: the program's shared index, taken on the worker thread before the walk
    // (a stale one is reloaded there, so the window never waits for a large list).
    CoreState* listSource = nullptr;
    int deleteOnFind = 0;
    // The session puts its own control in; a fingerprint cache given here is saved beside the
    // list (kFingerprintCacheFileName) when the worker ends.
    ScanOptions options;
    std::u16string moduleDir;  // where the scan log goes ("log/" below it)
};

class ScanSession {
public:
    // Starts the worker at once. Its messages (WM_SCAN_PROGRESS, WM_SCAN_FOUND with the
    // finding's sequence number, WM_SCAN_DONE) reach `window` with `tag` as lParam; progress is
    // coalesced (see ScanMessageGate). `window` must outlive the session or its Stop().
    ScanSession(ScanSessionSetup setup, MessageSink* window, intptr_t tag = 0);
    // Stops the scan and waits for the worker.
    ~ScanSession();
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    void Pause() { m_control.Pause(); }
    void Continue() { m_control.Continue(); }
    // Returns at once; nothing more is posted once it has returned.
    void Stop() { m_control.Stop(); }
    bool IsStopped() const { return m_control.IsStopped(); }
    // The worker thread has nothing left to do: Join() returns at once.
    bool HasEnded() const { return m_bEnded.load(std::memory_order_acquire); }
    void Join();

    intptr_t Tag() const { return m_gate.Tag(); }
    int64_t StartTime() const { return m_tmStart; }

    // On receiving WM_SCAN_PROGRESS: re-arms the progress message and returns the file the scan
    // is at (named when its reading starts).
    std::u16string TakeProgress();
    std::u16string CurrentFile() const;
    // Files judged so far; kept when their records are released at the end.
    int64_t ScannedCount() const;
    // Findings by sequence number. The worker adds to it until it ends.
    ScanRecordStore& Findings() { return m_findings; }
    const ScanRecordStore& Findings() const { return m_findings; }
    // What the scan could not cover; complete once WM_SCAN_DONE was posted (empty before).
    const ScanOutcome& Outcome() const;
    // The list could not be read (from `listSource`): nothing was scanned. Complete once
    // WM_SCAN_DONE was posted.
    bool ListUnreadable() const { return m_bListUnreadable.load(std::memory_order_acquire); }
    // Roots not walked plus subtrees too deep to enter.
    uint64_t FoldersNotWalked() const;

    // The summary line, the time counted up to now; a final one of a completed scan names the
    // folders not walked.
    std::u16string Summary(bool final) const;
    // The scan log of the findings as they stand now (see WriteScanLog).
    int WriteLog() const;

    // Ends the processes running each finding of `sequences` and moves its file into quarantine,
    // then forgets the finding. Only the file the scan found: one put at the same path since is
    // another file and stays with its processes, and so does a file without a recorded identity;
    // their findings are forgotten all the same. A system file stays, and so does its finding; a
    // file quarantine could not take stays with its finding, which records why.
    void DeleteFindings(const std::vector<int32_t>& sequences);

private:
    void Run();

    const ScanSessionSetup m_setup;
    const int64_t m_tmStart;
    ScanControl m_control;
    ScanMessageGate m_gate;
    ScanRecordStore m_scanned{false};  // counted only: the page shows the count, not the files
    ScanRecordStore m_findings;
    ScanOutcome m_outcome;
    std::atomic<bool> m_bOutcomeReady{false};
    std::atomic<bool> m_bListUnreadable{false};
    std::atomic<bool> m_bEnded{false};

    mutable std::mutex m_progressMutex;
    std::u16string m_strCurrent;
    bool m_bScannedReleased = false;
    int64_t m_nScannedFinal = 0;

    std::thread m_thread;
};

}  // namespace tovarek
