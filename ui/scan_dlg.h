// The scan page: a child of the main window, shown or hidden by its page button. It starts one
// scan session per scan (quick, full or custom) and shows what it reports: progress, the
// summary, the findings (added in batches); the session deletes the chosen ones and writes the
// scan log. Made once by the main window at set-up and kept until the program ends. UI thread
// only; the session's worker talks to it by posted messages. The page never waits for a worker
// that may still be reading: a stopped session finishes on its own, and is joined once it has
// ended, or at the program's end after every session was stopped.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "scan/scan_engine.h"
#include "ui/skinned_widget.h"

class QListWidget;

namespace tovarek {

class UiState;
class ScanSession;
class UiRichText;

class ScanDlg : public SkinnedWidget {
public:
    // mainWnd receives the page's posted messages (the main window). The constructor is the
    // page's set-up; with the auto-scan switch set it starts a quick scan.
    ScanDlg(UiState& app, MessageSink* mainWnd, QWidget* parent);
    ~ScanDlg() override;

    // Page states; 2 is not used.
    enum { kStateScanning = 0, kStatePaused = 1, kStateStopped = 3, kStateFinished = 4 };

    // For the main window's shutdown: a scan is running or paused.
    bool IsScanRunning() const;
    // Stops a running scan as the stop button does, and every session still finishing, at once.
    void StopScans();
    // Waits for the workers of every session (stop them first).
    void JoinScans();
    // Both, in this order.
    void StopAndJoinScan();

    // The buttons' click handler: 0 quick, 6 full, 7 custom, 1 pause, 2 continue, 3 stop,
    // 4 select all/none, 5 delete selected. A click the current state does not allow is ignored.
    void OnUiClick(int index);

    // Starts a scan of `roots` (made canonical first). 0 when started; -1 (after the message
    // "请选择要扫描的目录") when the list is empty. The list is read on the scan's own thread:
    // when it cannot be, the scan ends before it walks anything, with the message
    // "列表读取失败，无法扫描！", and the page is stopped again.
    int StartScan(const ScanRoots& roots);

    int GetState() const { return m_nState; }
    QListWidget* ResultList() const { return m_pList; }
    const UiRichText* SummaryText() const { return m_txtSummary; }
    const UiRichText* CurrentText() const { return m_txtCurrent; }
    const UiRichText* QuickButton() const { return m_btnQuick; }
    const UiRichText* PauseButton() const { return m_btnPause; }
    const UiRichText* StopButton() const { return m_btnStop; }
    const UiRichText* FullButton() const { return m_btnFull; }
    const UiRichText* CustomButton() const { return m_btnCustom; }
    const UiRichText* SelectAllButton() const { return m_btnSelectAll; }
    const UiRichText* DeleteButton() const { return m_btnDelete; }
    int64_t StartTime() const { return m_tmStart; }

    // The session shown (running, stopped or ended); none before the first scan.
    const ScanSession* Session() const { return m_pSession.get(); }
    // Stopped sessions whose worker has not yet been joined.
    size_t FinishingSessions() const { return m_retired.size(); }

protected:
    void OnSize(int w, int h) override;
    void OnPaintObjects(QPainter& dc) override;
    void OnMessage(const Message& m) override;

private:
    void CreatePageObjects();
    void EnableGroup(bool idle);
    void OnCustomScan();
    void OnStop();
    void OnScanProgress();
    void OnScanDone();
    // Adds lines for the findings not yet shown, at most `limit`; true when none is left.
    bool RefreshResults(bool reset, size_t limit = SIZE_MAX);
    void DeleteSelected();
    void ShowProgressSummary();
    // The final summary; it also writes the scan log and asks for the notice of findings.
    void ShowFinalSummaryAndWriteLog();
    void RestorePauseButton();
    // Hands the shown session to the finishing ones (stopped) and joins those that ended.
    void RetireSession();
    void ReapSessions();

    UiState& m_app;
    MessageSink* m_pMainWnd;

    std::unique_ptr<ScanSession> m_pSession;
    std::vector<std::unique_ptr<ScanSession>> m_retired;
    // Tag of the scan whose messages are still wanted; 0 after its end or stop.
    intptr_t m_nActiveTag = 0;
    intptr_t m_nLastTag = 0;

    UiRichText* m_txtCurrent = nullptr;
    UiRichText* m_txtSummary = nullptr;
    UiRichText* m_btnQuick = nullptr;
    UiRichText* m_btnFull = nullptr;
    UiRichText* m_btnCustom = nullptr;
    UiRichText* m_btnPause = nullptr;
    UiRichText* m_btnStop = nullptr;
    UiRichText* m_btnSelectAll = nullptr;
    UiRichText* m_btnDelete = nullptr;

    int m_nState = kStateStopped;
    int m_bSelectAll = 0;
    int32_t m_nLastShown = 0;  // sequence number of the newest finding with a line
    int64_t m_tmStart = 0;
    bool m_bIdleEnabled = true;
    int m_nButtonImage = 0;

    QListWidget* m_pList = nullptr;
};

}  // namespace tovarek
