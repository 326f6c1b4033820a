// The scan directory dialog: a small frameless modal window in which the user puts together the
// directories of one custom scan. It starts from a copy of the default scan directories; its
// edits never flow back. It ends accepted by "开始扫描" or Enter, and rejected by "取消", its
// close image, Esc or any other end (the window manager, the program ending). Made by the scan
// page for one use. UI thread only.
#pragma once

#include <QDialog>
#include <list>
#include <string>

#include "ui/skin/skin_paint.h"

class QListWidget;

namespace tovarek {

class UiState;
class UiRichText;

class SetScanPathDlg : public QDialog {
public:
    // The set-up: objects, list, 380 x 200, scanDirs = a copy of defaultScanDirs.
    SetScanPathDlg(UiState& app, QWidget* parent);
    // Gives the dialog's UI objects back to the library.
    ~SetScanPathDlg() override;

    // The directories to scan; the result of the dialog when it is accepted.
    std::list<std::u16string> scanDirs;

    // The objects' click handler: 0 cancel (close image and "取消"), 1 add, 2 remove, 3 start.
    void OnUiClick(int index);

    QListWidget* DirList() const { return m_pList; }
    const BackBuffer& backBuffer() const { return m_back; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    // Enter and Esc reach the dialog even while the list has the focus.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void OnAddDir();

    UiState& m_app;
    BackBuffer m_back;
    QListWidget* m_pList = nullptr;
    UiRichText* m_imgClose = nullptr;
    UiRichText* m_btnAdd = nullptr;
    UiRichText* m_btnRemove = nullptr;
    UiRichText* m_btnStart = nullptr;
    UiRichText* m_btnCancel = nullptr;
};

}  // namespace tovarek
