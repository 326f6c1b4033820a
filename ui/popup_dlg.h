// The notification pop-up: a small top-level window that slides up from the lower right corner
// of the primary screen's work area with the names of a notice, stays ten seconds and slides
// away. It never takes the focus and the window manager never places it. Made once, hidden, by
// the main window; UI thread only.
#pragma once

#include <QBasicTimer>
#include <QRect>
#include <functional>
#include <list>
#include <string>

#include "ui/skinned_widget.h"

class QListWidget;

namespace tovarek {

class UiState;
class UiRichText;

class PopupDlg : public SkinnedWidget {
public:
    // owner receives WM_SHOW_NOTICE (2) when "查看" is clicked. The window has no parent.
    PopupDlg(UiState& app, MessageSink* owner);
    ~PopupDlg() override;

    // kind 0: scan findings, 1: interceptions (other kinds keep the heading). Takes the names
    // and posts WM_POPUP_START to itself; the slide starts when that is handled.
    void ShowNotice(int kind, std::list<std::u16string> names);
    // Puts the window `offset` pixels above the bottom of the work area, 10 pixels in from its
    // right edge.
    void PlacePopup(int offset);
    void OnPopupStart();
    void OnTimer(int id);       // designed timers 0 (slide in), 1 (linger), 2 (slide out)
    void OnUiClick(int index);  // 0 "关闭", 1 "查看"
    bool IsTimerActive(int id) const;

    // Where the work area comes from: the primary screen's available geometry unless a test
    // gives another.
    void SetWorkAreaSource(std::function<QRect()> source) { m_fnWorkArea = std::move(source); }

    int SlideOffset() const { return m_nSlideOffset; }
    QListWidget* NameList() const { return m_pNameList; }
    UiRichText* Heading() const { return m_txtHeading; }
    UiRichText* CloseLink() const { return m_txtClose; }
    UiRichText* ViewLink() const { return m_txtView; }

protected:
    void OnSize(int w, int h) override;
    void OnPaintObjects(QPainter& dc) override;
    void OnMessage(const Message& m) override;
    void timerEvent(QTimerEvent* e) override;

private:
    QRect WorkArea() const;

    UiState& m_app;
    MessageSink* m_pOwner;
    QListWidget* m_pNameList = nullptr;
    UiRichText* m_txtHeading = nullptr;
    UiRichText* m_txtClose = nullptr;
    UiRichText* m_txtView = nullptr;
    std::list<std::u16string> m_lstNoticeNames;
    int m_nSlideOffset = 0;
    QBasicTimer m_timers[3];
    std::function<QRect()> m_fnWorkArea;
};

}  // namespace tovarek
