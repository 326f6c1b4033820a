// The folder chooser of the pages and dialogs; tests answer it through their UiEnv, without a
// person. UI thread only.
#pragma once

#include <QString>

class QWidget;

namespace tovarek {

// Shows a modal chooser of existing folders titled `title`; empty text when cancelled. This runs
// a nested event loop: the caller checks UiState::m_bExiting afterwards.
QString ChooseFolder(QWidget* owner, const QString& title);

}  // namespace tovarek
