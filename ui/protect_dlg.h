// The protection page: a child of the main window, shown or hidden by its page button. Made once by
// the main window at set-up and kept until the program ends. It switches protection on as it is
// made, runs the process watch from its own timer and shows the interception history. The page
// lives on the UI thread; each pass runs on the page's worker thread, and what it leaves (history
// lines, notices) reaches the page when the pass is over.
#pragma once

#include <QTimer>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protect/process_watch.h"
#include "ui/skinned_widget.h"

class QListWidget;
class QListWidgetItem;

namespace tovarek {

class UiState;
class UiRichText;

class ProtectDlg : public SkinnedWidget, public HistorySink {
public:
    // mainWnd receives the page's posted messages (the main window); may be null. `setup` is
    // what the watch works with (see WatchSetup); its processes default to the environment's
    // (UiEnv::RunningProcesses). What it points to must outlive the page. The watch's first pass
    // follows 3 s after construction.
    ProtectDlg(UiState& app, MessageSink* mainWnd, QWidget* parent, WatchSetup setup = {});

    bool IsProtecting() const { return m_bProtecting != 0; }

    // Click index: 0 start, 1 stop, 4 toggle select-all, 5 delete the checked lines' files.
    void OnUiClick(int index, int = 0);
    // Timer 0 is the watch: one pass on the worker, then the timer is set again, so its period
    // counts from the end of the pass. A tick that arrives during a pass is ignored.
    void OnTimer(int timerId);
    // A pass is running on the worker (its lines and notices not yet shown).
    bool IsInPass() const { return m_bInPass; }
    // Opens the folder of the current line's file.
    void OnHistoryDblClk();

    // HistorySink, for the watch's pass: kept until the pass is over (any thread).
    void AddHistoryLine(const std::u16string& line) override;
    void FitHistoryWidth(const std::u16string& longestLine) override;

    QListWidget* historyList() const { return m_pHistoryList; }
    const ProcessWatch& watch() const { return m_watch; }
    const QTimer& watchTimer() const { return m_watchTimer; }
    int selectAllState() const { return m_nSelectAllState; }
    int historyExtent() const { return m_nHistoryExtent; }
    UiRichText* startButton() const { return m_btnStart; }
    UiRichText* stopButton() const { return m_btnStop; }
    UiRichText* selectAllToggle() const { return m_btnSelectAll; }
    UiRichText* deleteButton() const { return m_btnDelete; }
    UiRichText* historyCaption() const { return m_txtCaption; }

    ~ProtectDlg() override;

protected:
    void OnSize(int w, int h) override;
    void OnPaintObjects(QPainter& dc) override;

private:
    void StartProtection();
    void StopProtection();
    void ToggleSelectAll();
    void DeleteSelected();
    MessageSink& ParentSink();
    void RunPasses();
    void OnPassDone();

    UiState& m_app;
    MessageSink* m_pMainWnd;
    QListWidget* m_pHistoryList = nullptr;
    ProcessWatch m_watch;
    UiRichText* m_btnStart = nullptr;
    UiRichText* m_btnStop = nullptr;
    UiRichText* m_btnSelectAll = nullptr;
    int m_nSelectAllState = 0;
    UiRichText* m_btnDelete = nullptr;
    UiRichText* m_txtCaption = nullptr;
    int m_bProtecting = 0;
    QTimer m_watchTimer;
    bool m_bInPass = false;
    int m_nHistoryExtent = 0;  // pixels of the longest history line, as last fitted

    // The worker: one pass per request, started with the first one.
    std::thread m_passThread;
    std::mutex m_passMutex;
    std::condition_variable m_passWake;
    bool m_bPassWanted = false;
    bool m_bQuit = false;
    // What the running pass leaves for the page, under m_passMutex.
    std::vector<std::u16string> m_vecPassLines;
    std::u16string m_strPassLongest;
    // The pass's notices: the watch appends to it during a pass, the page takes it once the pass
    // has ended (the finished pass's queued call orders the two).
    std::list<std::u16string> m_lstPassNotices;
};

}  // namespace tovarek
