#include "ui/folder_chooser.h"

#include <QFileDialog>

namespace tovarek {
namespace {

FolderChooserHook& Hook() {
    static FolderChooserHook hook;
    return hook;
}

}  // namespace

QString ChooseFolder(QWidget* owner, const QString& title) {
    if (Hook()) return Hook()(owner, title);
    return QFileDialog::getExistingDirectory(owner, title);
}

void SetFolderChooserForTest(FolderChooserHook answer) {
    Hook() = std::move(answer);
}

}  // namespace tovarek
