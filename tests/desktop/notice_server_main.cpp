// The desktop check's notification server: takes org.freedesktop.Notifications on the session
// bus, appends every Notify call as one JSON line to the file named, and clicks a notice's action
// when the check calls InvokeAction(id, key, token) on it (dbus-send). With --tray-host it is a
// tray host instead (tray_host.h). Ends on SIGTERM.
#include <stdio.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/desktop/tray_host.h"
#include "tests/support/notice_server.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool trayHost = argc == 3 && QByteArray(argv[1]) == "--tray-host";
    if (argc != 2 && !trayHost) {
        fprintf(stderr, "usage: tovarek-notice-server [--tray-host] RECORD_FILE\n");
        return 2;
    }
    QFile record(QString::fromLocal8Bit(argv[argc - 1]));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append)) return 1;
    if (trayHost) {
        tovarek::test::TrayHost host(QDBusConnection::sessionBus(), record);
        if (!host.Register()) {
            fprintf(stderr, "tovarek-notice-server: cannot take org.kde.StatusNotifierWatcher\n");
            return 1;
        }
        printf("ready\n");
        fflush(stdout);
        return app.exec();
    }
    tovarek::test::NoticeServer server({"actions", "body"});
    server.onNotify = [&record](const tovarek::test::NoticeCall& c) {
        QJsonObject line{{"id", static_cast<qint64>(c.id)},
                         {"app_name", c.appName},
                         {"replaces_id", static_cast<qint64>(c.replacesId)},
                         {"app_icon", c.appIcon},
                         {"summary", c.summary},
                         {"body", c.body},
                         {"actions", QJsonArray::fromStringList(c.actions)},
                         {"hints", QJsonObject::fromVariantMap(c.hints)},
                         {"expire_timeout", c.expireTimeoutMs}};
        record.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        record.flush();
    };
    if (!server.Register(QDBusConnection::sessionBus())) {
        fprintf(stderr, "tovarek-notice-server: cannot take org.freedesktop.Notifications\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    return app.exec();
}
