// The program's message boxes (caption "Tovarek" unless a box has its own); tests answer them
// through their UiEnv, without a person. UI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace tovarek {

// Shows a modal box and returns the button pressed (QMessageBox::Ok, ::Cancel, ...).
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

}  // namespace tovarek
