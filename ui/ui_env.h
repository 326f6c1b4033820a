// The desktop program's environment: the system's answers plus the dialogs that ask a person
// (message boxes, the folder chooser) and the desktop's file manager. Tests put one of their own
// in force (ScopedEnv) so nothing waits for a person or starts a program. UI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

#include "platform/env.h"
#include "scan/scan_engine.h"

class QWidget;

namespace tovarek {

class UiEnv : public Env {
public:
    // A modal box; the button pressed (QMessageBox::Ok, ::Cancel, ...).
    virtual QMessageBox::StandardButton MessageBox(QWidget* owner, const QString& text,
                                                   const QString& caption,
                                                   QMessageBox::StandardButtons buttons) const;
    // A modal chooser of existing folders; empty text when cancelled.
    virtual QString ChooseFolder(QWidget* owner, const QString& title) const;
    // Asks the desktop to show `filePath` in its folder (an absolute path); returns at once.
    virtual void ShowFileInFolder(const QString& filePath) const;

    // The folders a quick and a full scan of the scan page cover.
    virtual void AddQuickScanRoots(ScanRoots& roots) const;
    virtual void AddFullScanRoots(ScanRoots& roots) const;
    // How the pages reach the running processes (a scan's findings, the protection pass), and
    // the installed packages' records the scan page asks; none: the system's.
    virtual Processes* RunningProcesses() const { return nullptr; }
    virtual PackageFiles* ScanPackageFiles() const { return nullptr; }
};

// CurrentEnv() when it is a UiEnv, else the system's.
const UiEnv& CurrentUiEnv();

}  // namespace tovarek
