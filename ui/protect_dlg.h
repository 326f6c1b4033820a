// The protection page: a child of the main window, shown or hidden by its page button. Made once by
// the main window at set-up and kept until the program ends. It switches protection on as it is
// made, runs the process watch from its own timer and shows the interception history. UI thread
// only.
#pragma once

#include <QTimer>
#include <memory>

#include "protect/process_watch.h"
#include "ui/skinned_widget.h"

class QListWidget;
class QListWidgetItem;

namespace tovarek {

class UiState;
class UiRichText;

class ProtectDlg : public SkinnedWidget, public HistorySink {
public:
    // mainWnd receives the page's posted messages (the main window); may be null. `control`
    // reaches the processes for the watch: null means the Linux one; tests give their own, which
    // must outlive the page, and may set the clock of the history lines. The watch's first pass
    // follows 3 s after construction.
    ProtectDlg(UiState& app, MessageSink* mainWnd, QWidget* parent,
               ProcessControl* control = nullptr, ProcessWatch::Clock clock = nullptr);

    bool IsProtecting() const { return m_bProtecting != 0; }

    // Click index: 0 start, 1 stop, 4 toggle select-all, 5 delete the checked lines' files.
    void OnUiClick(int index, int = 0);
    // Timer 0 is the watch: one pass, then the timer is set again, so its period counts from the
    // end of the pass. A tick that arrives during a pass is ignored.
    void OnTimer(int timerId);
    // Opens the folder of the current line's file.
    void OnHistoryDblClk();

    // HistorySink, for the watch's pass.
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

protected:
    void OnSize(int w, int h) override;
    void OnPaintObjects(QPainter& dc) override;

private:
    void StartProtection();
    void StopProtection();
    void ToggleSelectAll();
    void DeleteSelected();
    MessageSink& ParentSink();

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
};

}  // namespace tovarek
