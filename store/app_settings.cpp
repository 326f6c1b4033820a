#include "store/app_settings.h"

#include <stdlib.h>

#include <sstream>

#include "platform/autostart.h"
#include "platform/module_info.h"
#include "store/database.h"

namespace tovarek {

AppSettings::AppSettings() {
    LoadSettings();
}

void AppSettings::LoadSettings() {
    defaultScanDirs.clear();
    autoRun = AutoRunEntry(0);
    Database db;
    OpenDatabase(db);
    closeToTray = ReadSetting(db, 1);
    autoScan = ReadSetting(db, 2);
    deleteOnFind.store(ReadSetting(db, 3));
    CloseDatabase(db);
}

void AppSettings::SeedDefaultScanDir() {
    defaultScanDirs.push_back(u"/opt/");
}

int AppSettings::SaveSettings(int autoRunValue, int closeToTrayValue, int autoScanValue,
                              int deleteOnFindValue) {
    autoRun = autoRunValue;
    AutoRunEntry(autoRun ? 1 : 2);
    Database db;
    OpenDatabase(db);
    closeToTray = closeToTrayValue;
    Execute(db, BuildSettingSql(1, 1, closeToTray), true);
    autoScan = autoScanValue;
    Execute(db, BuildSettingSql(1, 2, autoScan), true);
    deleteOnFind.store(deleteOnFindValue);
    Execute(db, BuildSettingSql(1, 3, deleteOnFindValue), true);
    CloseDatabase(db);
    return 0;
}

bool ReadSetting(Database& db, int settype) {
    QueryTable table;
    int rows = 0;
    int columns = 0;
    if (Query(db, BuildSettingSql(0, settype, 0), table, rows, columns) != 0) return false;
    if (table.size() < 2) return false;
    return atoi(table[1][0].c_str()) == 1;
}

std::string BuildSettingSql(int kind, int settype, int value) {
    std::ostringstream sql;
    if (kind == 0) {
        sql << "select setkey from setini where settype=" << settype;
    } else if (kind == 1) {
        sql << "update setini set setkey=" << value << " where settype=" << settype;
    }
    return sql.str();
}

bool AutoRunEntry(int mode) {
    std::string program = ModulePath();
    if (!AutostartDirUsable()) return false;
    switch (mode) {
        case 1:
            return WriteAutostartEntry(program);
        case 2:
            return DeleteAutostartEntry();
        case 0: {
            std::string stored;
            return ReadAutostartExec(stored) && stored == program;
        }
        default:
            return false;
    }
}

}  // namespace tovarek
