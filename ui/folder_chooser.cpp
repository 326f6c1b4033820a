#include "ui/folder_chooser.h"

#include <QFileDialog>

#include "ui/ui_env.h"

namespace tovarek {

QString ChooseFolder(QWidget* owner, const QString& title) {
    return CurrentUiEnv().ChooseFolder(owner, title);
}

QString UiEnv::ChooseFolder(QWidget* owner, const QString& title) const {
    return QFileDialog::getExistingDirectory(owner, title);
}

}  // namespace tovarek
