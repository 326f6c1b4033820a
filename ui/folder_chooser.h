// The folder chooser of the pages and dialogs, with one seam so tests can answer it without a
// person. UI thread only.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tovarek {

// Shows a modal chooser of existing folders titled `title`; empty text when cancelled. This runs
// a nested event loop: the caller checks UiState::m_bExiting afterwards.
QString ChooseFolder(QWidget* owner, const QString& title);

// Tests: every chooser goes to `answer` instead of the screen; an empty function restores it.
using FolderChooserHook = std::function<QString(QWidget* owner, const QString& title)>;
void SetFolderChooserForTest(FolderChooserHook answer);

}  // namespace tovarek
