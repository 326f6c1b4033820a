// Sends notices to the desktop's notification server over D-Bus and turns a click on their
// "查看" into what the pop-up's "查看" does: WM_SHOW_NOTICE (2) to the owner. Each slot (scan
// findings, interceptions, the note that the program runs on) holds at most one notice: a new one
// replaces the last. Every reply is checked; a notice no server takes is handed back to the
// caller. UI thread only; owned by the main window.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

#include "ui/desktop_notice.h"

namespace tovarek {

class MessageSink;

enum NoticeSlot { kScanNotice = 0, kInterceptNotice = 1, kRunningNotice = 2, kNoticeSlots = 3 };

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // `owner` receives WM_SHOW_NOTICE (2) when the action of one of our notices is invoked.
    DesktopNotifier(QDBusConnection bus, NoticeLook look, MessageSink* owner);

    // Sends `summary` with `names` in place of the slot's previous notice. `onFailed` runs later
    // on this thread when no server takes it: no bus, no server, an error reply, or none within
    // kReplyMs. Nothing runs on success.
    void Send(NoticeSlot slot, const QString& summary, const QStringList& names,
              std::function<void()> onFailed);

    // The server's id of the slot's notice on show, 0 when none.
    uint IdOf(NoticeSlot slot) const { return m_ids[slot]; }

    static constexpr int kReplyMs = 3000;

private Q_SLOTS:
    void OnActionInvoked(uint id, const QString& actionKey);
    void OnActivationToken(uint id, const QString& token);
    void OnNotificationClosed(uint id, uint reason);

private:
    void Notify(NoticeSlot slot, const NotifyArgs& args, std::function<void()> onFailed);
    bool IsOurs(uint id) const;

    QDBusConnection m_bus;
    NoticeLook m_look;
    MessageSink* m_pOwner;
    uint m_ids[kNoticeSlots] = {};
    // Ids handed out lately, closed ones too: a server may report the click after the close.
    std::deque<uint> m_lstRecentIds;
    uint m_nTokenId = 0;
    QString m_strToken;
};

}  // namespace tovarek
