#include "ui/desktop_notice.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSaveFile>
#include <QUrl>

#include "res/artwork.h"

namespace tovarek {

bool IsInstalledCopy(const std::u16string& moduleDir) {
    return moduleDir == u"/usr/bin/";
}

bool IsNativeWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QString NoticeHeading(int kind) {
    if (kind == 0) return QString::fromUtf8("扫描到危险文件：");
    if (kind == 1) return QString::fromUtf8("拦截到危险文件：");
    return {};
}

QList<QVariant> NotifyArgs::ToList() const {
    return {appName,
            QVariant::fromValue(replacesId),
            appIcon,
            summary,
            body,
            actions,
            QVariant(hints),
            expireTimeoutMs};
}

NotifyArgs BuildNotifyArgs(const NoticeLook& look, uint replacesId, const QString& summary,
                           const QStringList& lines, bool bodyMarkup) {
    NotifyArgs args;
    args.appName = QStringLiteral("Tovarek");
    args.replacesId = replacesId;
    args.summary = summary;
    QString body = lines.join(QLatin1Char('\n'));
    // A file name is chosen by whoever made the file: a server that reads markup would otherwise
    // turn "<b>" or a link in it into formatting.
    args.body = bodyMarkup ? body.toHtmlEscaped() : body;
    args.actions = {QString::fromLatin1(kViewActionKey), QString::fromUtf8("查看")};
    if (look.installed) {
        args.appIcon = QString::fromLatin1(kNoticeIconName);
        args.hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntryName));
    } else if (!look.iconFile.isEmpty()) {
        args.appIcon = QUrl::fromLocalFile(look.iconFile).toString(QUrl::FullyEncoded);
    }
    return args;
}

bool WriteNoticeIcon(const QString& path) {
    if (QFileInfo(path).isFile()) return true;
    const QPixmap pixmap = LoadResourceIcon(128).pixmap(64, 64);
    QSaveFile file(path);
    if (pixmap.isNull() || !file.open(QIODevice::WriteOnly)) return false;
    return pixmap.save(&file, "PNG") && file.commit();
}

}  // namespace tovarek
