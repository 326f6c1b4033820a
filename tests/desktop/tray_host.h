// The desktop check's tray host: a StatusNotifierWatcher (the part of KDE's or GNOME's
// AppIndicator tray that items register with) that records each registered item in a file, and
// lets the check use the item as a person would: activate it, or click an item of its menu
// (com.canonical.dbusmenu). UI thread only.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QFile>
#include <QObject>
#include <QStringList>

namespace tovarek::test {

class TrayHost : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
public:
    TrayHost(QDBusConnection bus, QFile& record) : m_bus(bus), m_record(record) {}
    // Exports the watcher at /StatusNotifierWatcher and takes its name.
    bool Register();

    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const { return m_items; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString&) {}
    // Not part of the interface: the check's clicks. Each records what it did or why it could
    // not, and returns whether it could.
    bool ActivateItem();
    bool ClickMenuItem(int index);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    void Record(const QString& line);

    QDBusConnection m_bus;
    QFile& m_record;
    QStringList m_items;
    QString m_strItemOwner;  // the unique bus name of the last item
};

}  // namespace tovarek::test
