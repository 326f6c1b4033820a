// A notification server of the tests' own (org.freedesktop.Notifications on a bus they made):
// records every Notify call, answers with ids the way a server does (a known replaces_id keeps
// its id), and emits ActionInvoked or NotificationClosed when told to. UI thread only.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace tovarek::test {

struct NoticeCall {
    uint id = 0;  // the id the server answered with
    QString appName;
    uint replacesId = 0;
    QString appIcon, summary, body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeoutMs = 0;
};

class NoticeServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NoticeServer(QStringList capabilities = {"actions", "body"});
    // Exports the object at /org/freedesktop/Notifications and takes the name. False when the
    // name is taken or the bus is not connected.
    bool Register(QDBusConnection bus);

    QList<NoticeCall> calls;
    std::function<void(const NoticeCall&)> onNotify;  // after the call is recorded
    QStringList capabilities;
    bool failNotify = false;  // answer Notify with an error

    void EmitClosed(uint id, uint reason) { emit NotificationClosed(id, reason); }

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout);
    QStringList GetCapabilities() { return capabilities; }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);
    // Not part of the interface: a test's way to click a notice's action, as a user would.
    void InvokeAction(uint id, const QString& actionKey, const QString& activationToken);

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& actionKey);
    void ActivationToken(uint id, const QString& token);
    void NotificationClosed(uint id, uint reason);

private:
    uint m_nLastId = 0;
};

}  // namespace tovarek::test
