// Opening a file's folder in the desktop's file manager with the file selected; tests answer it
// through their UiEnv, so they never start a file manager. UI thread only; returns at once.
#pragma once

#include <QString>

namespace tovarek {

// Asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems with the file's URI);
// when no file manager answers, opens the folder with xdg-open (an argument list, no shell).
// An empty or relative path opens nothing.
void ShowFileInFolder(const QString& filePath);

}  // namespace tovarek
