#include "ui/message_box.h"

#include "ui/ui_env.h"

namespace tovarek {

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons) {
    return CurrentUiEnv().MessageBox(owner, text, caption, buttons);
}

QMessageBox::StandardButton UiEnv::MessageBox(QWidget* owner, const QString& text,
                                              const QString& caption,
                                              QMessageBox::StandardButtons buttons) const {
    QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace tovarek
