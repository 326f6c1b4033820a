#include "ui/scan_dir_list.h"

#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <algorithm>
#include <vector>

namespace tovarek {

void FillScanDirList(QListWidget* list, const std::list<std::u16string>& dirs) {
    if (!list) return;
    list->clear();
    for (const std::u16string& dir : dirs) {
        auto* item = new QListWidgetItem(QString::fromStdU16String(dir));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        list->addItem(item);  // never sorted: the list keeps the folders' order
    }
}

bool AddScanDir(std::list<std::u16string>& dirs, QListWidget* list, const QString& chosen) {
    if (chosen.isEmpty() || !QDir::isAbsolutePath(chosen) || !QFileInfo(chosen).isDir())
        return false;
    QString dir = chosen;
    if (!dir.endsWith(u'/')) dir += u'/';
    dirs.push_back(dir.toStdU16String());
    FillScanDirList(list, dirs);
    return true;
}

void RemoveCheckedScanDirs(std::list<std::u16string>& dirs, QListWidget* list) {
    if (!list) return;
    // The lines are read first and the list refilled only at the end, so every checked line
    // counts once, however many equal lines there are.
    std::vector<std::u16string> checked;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->checkState() == Qt::Checked)
            checked.push_back(list->item(i)->text().toStdU16String());
    }
    for (const std::u16string& text : checked) {
        auto it = std::find(dirs.begin(), dirs.end(), text);
        if (it != dirs.end()) dirs.erase(it);
    }
    FillScanDirList(list, dirs);
}

}  // namespace tovarek
