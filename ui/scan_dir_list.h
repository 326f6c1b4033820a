// The check lists of scan directories shared by the settings page and the scan directory dialog:
// a list of folders (each ending in '/') shown as one checkable line per folder. UI thread only.
#pragma once

#include <QString>
#include <list>
#include <string>

class QListWidget;

namespace tovarek {

// Clears `list`, then adds one checkable, unchecked line per directory, in order.
void FillScanDirList(QListWidget* list, const std::list<std::u16string>& dirs);

// Appends `chosen` with a trailing '/' (never doubled: "/" stays "/") to `dirs`, duplicates
// allowed, and refills `list`. An empty choice, a relative path or one that is not an existing
// folder adds nothing and returns false.
bool AddScanDir(std::list<std::u16string>& dirs, QListWidget* list, const QString& chosen);

// For every checked line, removes from `dirs` the first entry equal to its text (exactly); the
// rest keep their order. Then refills `list`, so every check mark is cleared.
void RemoveCheckedScanDirs(std::list<std::u16string>& dirs, QListWidget* list);

}  // namespace tovarek
