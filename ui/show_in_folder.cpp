#include "ui/show_in_folder.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QProcess>
#include <QUrl>

#include "platform/path_text.h"
#include "ui/ui_env.h"

namespace tovarek {
namespace {

// A file: URI of the exact bytes of a path (file names need not be UTF-8, and a QString of one
// would lose the bytes that are not), so the desktop is told the file that really is there.
QString FileUri(const std::string& pathBytes) {
    return QStringLiteral("file://") +
           QString::fromLatin1(QUrl::toPercentEncoding(QByteArray::fromStdString(pathBytes), "/"));
}

void OpenFolderWithXdgOpen(const std::string& filePathBytes) {
    const std::string folder = filePathBytes.substr(0, filePathBytes.rfind('/') + 1);
    QProcess::startDetached(QStringLiteral("xdg-open"), {FileUri(folder)});
}

}  // namespace

void ShowFileInFolder(const QString& filePath) {
    if (filePath.isEmpty() || !QDir::isAbsolutePath(filePath)) return;
    CurrentUiEnv().ShowFileInFolder(filePath);
}

void UiEnv::ShowFileInFolder(const QString& filePath) const {
    const std::string bytes = Utf16ToPath(filePath.toStdU16String());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenFolderWithXdgOpen(bytes);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{FileUri(bytes)} << QString();
    // Asynchronous: starting a file manager may take a while and the UI must not wait for it.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [bytes](QDBusPendingCallWatcher* w) {
                         if (w->isError()) OpenFolderWithXdgOpen(bytes);
                         w->deleteLater();
                     });
}

}  // namespace tovarek
