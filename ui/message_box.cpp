#include "ui/message_box.h"

namespace tovarek {
namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons) {
    if (Hook()) return Hook()(owner, text, caption, buttons);
    QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetMessageBoxHookForTest(MessageBoxHook answer) {
    Hook() = std::move(answer);
}

}  // namespace tovarek
