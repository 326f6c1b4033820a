// Opening a file's folder in the desktop's file manager with the file selected, with one seam so
// tests never start a file manager. UI thread only; returns at once.
#pragma once

#include <QString>
#include <functional>

namespace tovarek {

// Asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems with the file's URI);
// when no file manager answers, opens the folder with xdg-open (an argument list, no shell).
// An empty or relative path opens nothing.
void ShowFileInFolder(const QString& filePath);

// Tests: every request goes to `open` instead of the desktop; an empty function restores it.
using FolderOpenerHook = std::function<void(const QString& filePath)>;
void SetFolderOpenerForTest(FolderOpenerHook open);

}  // namespace tovarek
