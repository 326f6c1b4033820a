// The UI suites' environment: answers for the dialogs and the file manager where a test gives
// them (the real ones otherwise), the folder and code page it fixes. In force for its life.
#pragma once

#include <functional>

#include "tests/support/test_env.h"
#include "ui/ui_env.h"

namespace tovarek::test {

class TestUiEnv : public ScopedTestEnvOf<UiEnv> {
public:
    std::function<QMessageBox::StandardButton(QWidget*, const QString& text, const QString& caption,
                                              QMessageBox::StandardButtons)>
        messageBox;
    std::function<QString(QWidget*, const QString& title)> chooseFolder;
    std::function<void(const QString& filePath)> showFileInFolder;
    // The scan page's roots and processes; empty: the real ones.
    std::function<void(ScanRoots&)> quickRoots;
    std::function<void(ScanRoots&)> fullRoots;
    Processes* pProcesses = nullptr;
    PackageFiles* pPackageFiles = nullptr;

    QMessageBox::StandardButton MessageBox(QWidget* owner, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons) const override {
        return messageBox ? messageBox(owner, text, caption, buttons)
                          : UiEnv::MessageBox(owner, text, caption, buttons);
    }
    QString ChooseFolder(QWidget* owner, const QString& title) const override {
        return chooseFolder ? chooseFolder(owner, title) : UiEnv::ChooseFolder(owner, title);
    }
    void ShowFileInFolder(const QString& filePath) const override {
        if (showFileInFolder) {
            showFileInFolder(filePath);
        } else {
            UiEnv::ShowFileInFolder(filePath);
        }
    }
    void AddQuickScanRoots(ScanRoots& roots) const override {
        quickRoots ? quickRoots(roots) : UiEnv::AddQuickScanRoots(roots);
    }
    void AddFullScanRoots(ScanRoots& roots) const override {
        fullRoots ? fullRoots(roots) : UiEnv::AddFullScanRoots(roots);
    }
    Processes* RunningProcesses() const override { return pProcesses; }
    PackageFiles* ScanPackageFiles() const override { return pPackageFiles; }
};

}  // namespace tovarek::test
