#include "ui/scan_dir_list.h"

#include <QListWidget>
#include <vector>

namespace tovarek {

void FillScanDirList(QListWidget* list, const std::list<std::u16string>& dirs) {
    if (!list) return;
    list->clear();
    for (const std::u16string& dir : dirs) {
        auto* item = new QListWidgetItem(QString::fromStdU16String(dir), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

bool AddScanDir(std::list<std::u16string>& dirs, QListWidget* list, const QString& chosen) {
    if (chosen.isEmpty() || !chosen.startsWith(u'/')) return false;
    QString dir = chosen;
    if (!dir.endsWith(u'/')) dir += u'/';
    dirs.push_back(dir.toStdU16String());
    FillScanDirList(list, dirs);
    return true;
}

void RemoveCheckedScanDirs(std::list<std::u16string>& dirs, QListWidget* list) {
    if (!list) return;
    // Texts first, then the removals: the walk reads the list as it was.
    std::vector<std::u16string> checked;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->checkState() == Qt::Checked)
            checked.push_back(list->item(i)->text().toStdU16String());
    }
    for (const std::u16string& text : checked) {
        for (auto it = dirs.begin(); it != dirs.end(); ++it) {
            if (*it == text) {
                dirs.erase(it);
                break;
            }
        }
    }
    FillScanDirList(list, dirs);
}

}  // namespace tovarek
