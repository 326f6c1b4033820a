#include "tests/desktop/tray_host.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDateTime>

namespace tovarek::test {
namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

struct MenuItem {
    int id = 0;
    QVariantMap properties;
    QList<MenuItem> children;
};

// A dbusmenu layout, "(ia{sv}av)", each child a variant holding the same structure.
void ReadMenuItem(const QDBusArgument& arg, MenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        MenuItem c;
        ReadMenuItem(child.variant().value<QDBusArgument>(), c);
        item.children.push_back(c);
    }
    arg.endArray();
    arg.endStructure();
}

}  // namespace

bool TrayHost::Register() {
    return m_bus.registerObject("/StatusNotifierWatcher", this,
                                QDBusConnection::ExportAllSlots |
                                    QDBusConnection::ExportAllSignals |
                                    QDBusConnection::ExportAllProperties) &&
           m_bus.registerService("org.kde.StatusNotifierWatcher");
}

void TrayHost::Record(const QString& line) {
    m_record.write(line.toUtf8() + '\n');
    m_record.flush();
}

void TrayHost::RegisterStatusNotifierItem(const QString& service) {
    // Items name either their own bus name or an object path on the caller's connection.
    m_strItemOwner = service.startsWith('/') ? message().service() : service;
    m_items << service;
    Record("item " + service);
    emit StatusNotifierItemRegistered(service);
}

bool TrayHost::ActivateItem() {
    if (m_strItemOwner.isEmpty()) return Record("activate: no item"), false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_strItemOwner, kItemPath, kItemInterface, "Activate");
    call << 0 << 0;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, 3000);
    Record("activate " +
           (reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString("done")));
    return reply.type() != QDBusMessage::ErrorMessage;
}

bool TrayHost::ClickMenuItem(int index) {
    if (m_strItemOwner.isEmpty()) return Record("menu: no item"), false;
    QDBusInterface item(m_strItemOwner, kItemPath, kItemInterface, m_bus);
    const QString menuPath = item.property("Menu").value<QDBusObjectPath>().path();
    QDBusMessage layoutCall = QDBusMessage::createMethodCall(m_strItemOwner, menuPath,
                                                             "com.canonical.dbusmenu", "GetLayout");
    layoutCall << 0 << -1 << QStringList();
    const QDBusMessage layout = m_bus.call(layoutCall, QDBus::Block, 3000);
    if (layout.type() == QDBusMessage::ErrorMessage || layout.arguments().size() != 2)
        return Record("menu: no layout at '" + menuPath + "'"), false;
    MenuItem root;
    ReadMenuItem(layout.arguments()[1].value<QDBusArgument>(), root);
    QStringList labels;
    for (const MenuItem& c : root.children) labels << c.properties.value("label").toString();
    Record("menu " + labels.join('|'));
    if (index < 0 || index >= root.children.size()) return false;
    QDBusMessage event =
        QDBusMessage::createMethodCall(m_strItemOwner, menuPath, "com.canonical.dbusmenu", "Event");
    event << root.children[index].id << QString("clicked") << QVariant::fromValue(QDBusVariant(0))
          << static_cast<uint>(QDateTime::currentSecsSinceEpoch());
    // The item may end the program: no answer is waited for.
    return m_bus.send(event);
}

}  // namespace tovarek::test
