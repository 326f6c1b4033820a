// The settings page: a child of the main window, shown or hidden by its page button. Made once by
// the main window at set-up and kept until the program ends. The four switches are edited on the
// page's own copies and reach the settings record, the database and the autostart entry only
// through "应用"; the default scan directories are edited in the settings record directly (they
// live in memory only). UI thread only.
#pragma once

#include "ui/skinned_widget.h"

class QListWidget;

namespace tovarek {

class UiState;
class UiRichText;

class SetDlg : public SkinnedWidget {
public:
    // mainWnd receives the page's posted messages (the main window).
    SetDlg(UiState& app, MessageSink* mainWnd, QWidget* parent);

    // Box index 0 autorun, 1 close-to-tray, 2 auto-scan, 3 delete-on-find: flips the page copy.
    void OnOptionClick(int index, int = 0);
    // Saves the four copies with SaveSettings (database rows and autostart entry); says so when
    // they could not be saved.
    void OnApplyClick(int index = 0, int = 0);
    // 0 adds a folder from the chooser, 1 removes the checked lines.
    void OnDirButtonClick(int index, int = 0);

    int optionCopy(int index) const { return index >= 0 && index < 4 ? m_nOption[index] : 0; }
    UiRichText* optionBox(int index) const {
        return index >= 0 && index < 4 ? m_boxOption[index] : nullptr;
    }
    UiRichText* addButton() const { return m_btnAdd; }
    UiRichText* removeButton() const { return m_btnRemove; }
    UiRichText* applyButton() const { return m_btnApply; }
    QListWidget* dirList() const { return m_pDirList; }

protected:
    void OnSize(int w, int h) override;
    void OnPaintObjects(QPainter& dc) override;

private:
    void CreatePageObjects();
    void LoadOptionStates();
    // The state a ticked box shows: 2 for autorun, 3 for the others.
    static int TickedState(int index) { return index == 0 ? 2 : 3; }

    UiState& m_app;
    MessageSink* m_pMainWnd;
    UiRichText* m_boxOption[4] = {};  // autorun, close-to-tray, auto-scan, delete-on-find
    int m_nOption[4] = {};            // their page copies, 0/1
    UiRichText* m_btnAdd = nullptr;
    UiRichText* m_btnRemove = nullptr;
    UiRichText* m_btnApply = nullptr;
    QListWidget* m_pDirList = nullptr;
};

}  // namespace tovarek
