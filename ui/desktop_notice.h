// What a notice of the hidden window says to the desktop's notification server
// (org.freedesktop.Notifications), where the pop-up cannot be placed: the arguments of one Notify
// call, built from the same heading and names the pop-up would show. Plain values; any thread.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <string>

namespace tovarek {

// How the program names itself to the server: the packaged copy by its themed icon and desktop
// entry, a build or unpacked copy by an icon file of its own.
struct NoticeLook {
    bool installed = false;
    // Absolute path, used only when not installed; empty: the user's runtime folder.
    QString iconFile;
};

// The one place that decides whether this is the packaged copy: the package puts the program in
// /usr/bin; a build or unpacked copy runs from its own folder anywhere else.
bool IsInstalledCopy(const std::u16string& moduleDir);

// True when Qt talks to a Wayland compositor itself (not through XWayland): the program can
// neither place its own windows there nor learn whether its window is minimised.
bool IsNativeWayland();

// "扫描到危险文件：" for kind 0, "拦截到危险文件：" for kind 1, empty for any other kind.
QString NoticeHeading(int kind);

constexpr const char* kNoticeIconName = "tovarek";
constexpr const char* kDesktopEntryName = "tovarek";
constexpr const char* kViewActionKey = "default";

// The arguments of Notify, in the interface's order (signature "susssasa{sv}i").
struct NotifyArgs {
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;  // key, label, key, label, ...
    QVariantMap hints;
    int expireTimeoutMs = -1;  // the server's own choice

    QList<QVariant> ToList() const;
};

// One notice: app name "Tovarek", the look's icon, `summary`, `lines` (the names) one to a line
// (escaped when the server reads markup in bodies, so a name is always shown as itself), the one
// action "查看", and the desktop entry hint for the packaged copy.
NotifyArgs BuildNotifyArgs(const NoticeLook& look, uint replacesId, const QString& summary,
                           const QStringList& lines, bool bodyMarkup);

// Writes the program's icon (128, 64 pixels) as a PNG at `path` unless a file is there already.
// False when it cannot be written.
bool WriteNoticeIcon(const QString& path);

}  // namespace tovarek
