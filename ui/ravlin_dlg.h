// The main window: a frameless, painted 600x400 window with the three page buttons, the title
// buttons, the two status lines and the three pages; it owns the tray icon, the hidden-to-tray
// state, the notification pop-up, the download worker with its hourly update timer, and the
// exit paths. One per run, made by start-up; UI thread only, except PostMessage.
#pragma once

#include <QBasicTimer>
#include <QDBusConnection>
#include <QPoint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "ui/desktop_notice.h"
#include "ui/skinned_widget.h"
#include "update/list_fetch.h"

class QMenu;
class QSystemTrayIcon;

namespace tovarek {

class DesktopNotifier;
class UiState;
class DownControlThread;
class PopupDlg;
class ProtectDlg;
class ScanDlg;
class SetDlg;
class UiRichText;

// The tray menu's one command.
constexpr int ID_TRAY_EXIT = 1225;
// Mouse messages of WM_TRAY_NOTIFY's lParam.
constexpr intptr_t kTrayDoubleClick = 0x203;
constexpr intptr_t kTrayRightButtonUp = 0x205;

// What the window knows of the desktop it runs on.
struct DesktopRoute {
    // Notices of the hidden window go to the notification server (the pop-up cannot be placed),
    // and a minimised window is not reported as such.
    bool nativeWayland = false;
    QDBusConnection bus = QDBusConnection(QString());  // not connected
    NoticeLook look;

    // This run's: the platform Qt uses, the session bus, the copy that runs.
    static DesktopRoute ForThisRun(const std::u16string& moduleDir);
};

class CRavlinDlg : public SkinnedWidget {
public:
    // Set-up: UI objects, tray icon (130), pages in the order scan, protection, settings, the
    // hidden pop-up, size 600x400 centred on the primary screen's work area, the download worker
    // (fetching from `listUrl`), update timer 0 in 10 ms, and the updater beside the program.
    // Without a route, DesktopRoute::ForThisRun.
    explicit CRavlinDlg(UiState& app, std::string listUrl = kListUrl,
                        std::optional<DesktopRoute> route = std::nullopt);
    // Ends what EndDialog would, if it has not run.
    ~CRavlinDlg() override;

    void OnTabClick(int index);    // 0 scan, 1 protection, 2 settings
    void OnTitleClick(int index);  // 0 minimise, 1 close
    void OnCommand(int id);        // ID_TRAY_EXIT runs ExitApp
    // The checked exit: refused while a page's dialog is open, asks while a scan runs.
    void ExitApp();
    // The unchecked end: marks the program as exiting, stops the workers, removes the tray icon
    // and leaves the event loop with status 0. Runs once; later calls do nothing.
    void EndDialog();

    // What tests and start-up look at.
    int IsHiddenToTray() const { return m_bHiddenToTray; }
    int TrayIconId() const { return m_nTrayIconId; }
    QSystemTrayIcon* TrayIcon() const { return m_pTray.get(); }
    QMenu* TrayMenu() const { return m_pTrayMenu.get(); }
    PopupDlg* Popup() const { return m_pPopup.get(); }
    DesktopNotifier* Notifier() const { return m_pNotifier.get(); }
    ScanDlg* ScanPage() const { return m_pScanPage; }
    ProtectDlg* ProtectPage() const { return m_pProtectPage; }
    SetDlg* SetPage() const { return m_pSetPage; }
    UiRichText* TabButton(int index) const;  // 0..2
    UiRichText* MinButton() const { return m_btnMin; }
    UiRichText* CloseButton() const { return m_btnClose; }
    UiRichText* VersionLine() const { return m_txtVersion; }
    UiRichText* ListDateLine() const { return m_txtListDate; }
    DownControlThread* DownThread() const { return m_pDownThread.get(); }
    bool IsUpdateTimerActive() const { return m_timerUpdate.isActive(); }
    int UpdateTimerPeriodMs() const { return m_nUpdatePeriodMs; }
    // Runs the handler of designed timer `id` as a tick would (only 0 exists here).
    void OnTimer(int id);

protected:
    void OnSize(int w, int h) override;
    void OnPaintObjects(QPainter& dc) override;
    void OnMessage(const Message& m) override;
    void timerEvent(QTimerEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void HideToTray();
    void ShowFromTray();
    // A notice of kind 0 or 1 while hidden: the pop-up, or on native Wayland the desktop's
    // notification with the pop-up where no server takes it.
    void ShowNotice(int kind, const std::list<std::u16string>& names);
    void SetTrayIcon(int id);
    void StopWorkers();

    UiState& m_app;
    UiRichText* m_btnTabScan = nullptr;
    UiRichText* m_btnTabProtect = nullptr;
    UiRichText* m_btnTabSet = nullptr;
    UiRichText* m_btnMin = nullptr;
    UiRichText* m_btnClose = nullptr;
    UiRichText* m_txtVersion = nullptr;
    UiRichText* m_txtListDate = nullptr;
    std::unique_ptr<PopupDlg> m_pPopup;
    std::unique_ptr<DesktopNotifier> m_pNotifier;
    bool m_bNativeWayland = false;
    int m_bHiddenToTray = 0;
    // Minimised for want of a tray: whether the user was told once that the program runs on,
    // and (on Wayland) whether the window has been inactive since, so that its next activation
    // is the user bringing it back.
    bool m_bToldRunningOn = false;
    bool m_bLeftActive = false;
    ScanDlg* m_pScanPage = nullptr;  // children: deleted with the window
    ProtectDlg* m_pProtectPage = nullptr;
    SetDlg* m_pSetPage = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_pTray;
    std::unique_ptr<QMenu> m_pTrayMenu;
    int m_nTrayIconId = 130;
    std::unique_ptr<DownControlThread> m_pDownThread;
    QBasicTimer m_timerUpdate;  // designed timer 0
    int m_nUpdatePeriodMs = 0;  // as last started
    // Moving the window by hand where the window system refuses a system move.
    bool m_bDragging = false;
    QPoint m_ptDragOffset;
};

}  // namespace tovarek
