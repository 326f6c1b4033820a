#include "ui/updater_launch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>

namespace tovarek {

bool LaunchUpdater(const QString& path) {
    const QByteArray native = path.toLocal8Bit();
    struct stat st;
    // stat follows a link: a link to a regular executable is as good as the file.
    if (stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (access(native.constData(), X_OK) != 0) return false;
    // QProcess starts it through fork and exec, never a shell, and reaps nothing later.
    return QProcess::startDetached(path, {});
}

}  // namespace tovarek
