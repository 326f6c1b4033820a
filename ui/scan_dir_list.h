// The check-box list of scan directories shared by the settings page and the scan directory
// dialog: the list widget shows a std::list of directories, one checkable line each, in order.
// UI thread only.
#pragma once

#include <QString>
#include <list>
#include <string>

class QListWidget;

namespace tovarek {

// Clears `list`, then adds one checkable, unchecked line per directory, in order.
void FillScanDirList(QListWidget* list, const std::list<std::u16string>& dirs);

// Appends `chosen` + "/" (unless it already ends in "/"; "/" stays "/") to `dirs` and refills
// `list`. An empty choice, or one that is not an absolute path, adds nothing and returns false.
bool AddScanDir(std::list<std::u16string>& dirs, QListWidget* list, const QString& chosen);

// Removes from `dirs` the first entry equal to each checked line's text (exact case), keeping
// the order of the rest, then refills `list`.
void RemoveCheckedScanDirs(std::list<std::u16string>& dirs, QListWidget* list);

}  // namespace tovarek
