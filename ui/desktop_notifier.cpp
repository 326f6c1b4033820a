#include "ui/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStandardPaths>
#include <algorithm>

#include "platform/messages.h"

namespace tovarek {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr size_t kRecentIds = 16;

// A private folder of this user's, so nobody else can put a file or a link at that name.
QString DefaultIconFile() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/tovarek-128.png");
}

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, NoticeLook look, MessageSink* owner)
    : m_bus(std::move(bus)), m_look(std::move(look)), m_pOwner(owner) {
    if (!m_bus.isConnected()) return;
    // Bound to the name, so only whoever owns org.freedesktop.Notifications is heard.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(OnActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActivationToken"), this,
                  SLOT(OnActivationToken(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(OnNotificationClosed(uint, uint)));
}

void DesktopNotifier::Send(NoticeSlot slot, const QString& summary, const QStringList& names,
                           std::function<void()> onFailed) {
    if (!m_bus.isConnected()) {
        if (onFailed) onFailed();
        return;
    }
    NoticeLook look = m_look;
    if (!look.installed) {
        if (look.iconFile.isEmpty()) look.iconFile = m_look.iconFile = DefaultIconFile();
        if (!WriteNoticeIcon(look.iconFile)) look.iconFile.clear();  // none rather than a lost one
    }
    // Whether the body is read as markup decides how names are written, so ask first: the
    // server may have changed since the last notice.
    auto* watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(Call("GetCapabilities"), kReplyMs), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, look, slot, summary, names, onFailed](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         QDBusPendingReply<QStringList> caps = *w;
                         if (caps.isError()) {
                             if (onFailed) onFailed();
                             return;
                         }
                         const bool markup = caps.value().contains(QStringLiteral("body-markup"));
                         Notify(slot, BuildNotifyArgs(look, m_ids[slot], summary, names, markup),
                                onFailed);
                     });
}

void DesktopNotifier::Notify(NoticeSlot slot, const NotifyArgs& args,
                             std::function<void()> onFailed) {
    QDBusMessage call = Call("Notify");
    call.setArguments(args.ToList());
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kReplyMs), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, slot, onFailed](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         QDBusPendingReply<uint> reply = *w;
                         if (reply.isError()) {
                             if (onFailed) onFailed();
                             return;
                         }
                         const uint id = reply.value();
                         m_ids[slot] = id;
                         if (std::find(m_lstRecentIds.begin(), m_lstRecentIds.end(), id) ==
                             m_lstRecentIds.end()) {
                             m_lstRecentIds.push_back(id);
                             if (m_lstRecentIds.size() > kRecentIds) m_lstRecentIds.pop_front();
                         }
                     });
}

bool DesktopNotifier::IsOurs(uint id) const {
    return id != 0 &&
           std::find(m_lstRecentIds.begin(), m_lstRecentIds.end(), id) != m_lstRecentIds.end();
}

void DesktopNotifier::OnActivationToken(uint id, const QString& token) {
    // Sent just before ActionInvoked: the compositor's leave to raise our window.
    if (!IsOurs(id)) return;
    m_nTokenId = id;
    m_strToken = token;
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& actionKey) {
    if (!IsOurs(id) || actionKey != QLatin1String(kViewActionKey)) return;
    // Qt reads the token from here when the window next asks to be activated, and uses it once.
    if (m_nTokenId == id && !m_strToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", m_strToken.toUtf8());
    m_nTokenId = 0;
    m_strToken.clear();
    if (m_pOwner) m_pOwner->PostMessage(WM_SHOW_NOTICE, 2, 0);
}

void DesktopNotifier::OnNotificationClosed(uint id, uint /*reason*/) {
    // A closed notice cannot be replaced: the slot's next one starts afresh.
    for (uint& slotId : m_ids) {
        if (slotId == id) slotId = 0;
    }
}

}  // namespace tovarek
