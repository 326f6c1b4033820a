// The program's message boxes (caption "Tovarek" unless a Part names another), with one seam so
// tests can answer them without a person. UI thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace tovarek {

// Shows a modal box and returns the button pressed (QMessageBox::Ok, ::Cancel, ...).
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Tests: every box goes to `answer` instead of the screen; an empty function restores the boxes.
using MessageBoxHook = std::function<QMessageBox::StandardButton(
    QWidget* owner, const QString& text, const QString& caption, QMessageBox::StandardButtons)>;
void SetMessageBoxHookForTest(MessageBoxHook answer);

}  // namespace tovarek
