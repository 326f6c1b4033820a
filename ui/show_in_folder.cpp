#include "ui/show_in_folder.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace tovarek {
namespace {

FolderOpenerHook& Hook() {
    static FolderOpenerHook hook;
    return hook;
}

void OpenFolderWithXdgOpen(const QString& filePath) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {QFileInfo(filePath).absolutePath()});
}

}  // namespace

void ShowFileInFolder(const QString& filePath) {
    if (filePath.isEmpty() || !QDir::isAbsolutePath(filePath)) return;
    if (Hook()) {
        Hook()(filePath);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenFolderWithXdgOpen(filePath);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous: starting a file manager may take a while and the UI must not wait for it.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [filePath](QDBusPendingCallWatcher* w) {
                         if (w->isError()) OpenFolderWithXdgOpen(filePath);
                         w->deleteLater();
                     });
}

void SetFolderOpenerForTest(FolderOpenerHook open) {
    Hook() = std::move(open);
}

}  // namespace tovarek
