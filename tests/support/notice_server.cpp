#include "tests/support/notice_server.h"

#include <QDBusMessage>

namespace tovarek::test {

NoticeServer::NoticeServer(QStringList caps) : capabilities(std::move(caps)) {}

bool NoticeServer::Register(QDBusConnection bus) {
    return bus.isConnected() &&
           bus.registerObject(
               "/org/freedesktop/Notifications", this,
               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
           bus.registerService("org.freedesktop.Notifications");
}

uint NoticeServer::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                          const QString& summary, const QString& body, const QStringList& actions,
                          const QVariantMap& hints, int expireTimeout) {
    if (failNotify) {
        sendErrorReply(QDBusError::Failed, "refused by the test");
        return 0;
    }
    bool known = false;
    for (const NoticeCall& c : calls) known = known || c.id == replacesId;
    const uint id = replacesId != 0 && known ? replacesId : ++m_nLastId;
    calls.push_back(
        {id, appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
    if (onNotify) onNotify(calls.back());
    return id;
}

QString NoticeServer::GetServerInformation(QString& vendor, QString& version,
                                           QString& specVersion) {
    vendor = "Tovarek tests";
    version = "1";
    specVersion = "1.2";
    return "tovarek-test-notices";
}

void NoticeServer::InvokeAction(uint id, const QString& actionKey, const QString& token) {
    if (!token.isEmpty()) emit ActivationToken(id, token);
    emit ActionInvoked(id, actionKey);
    emit NotificationClosed(id, 2);
}

}  // namespace tovarek::test
