#include "store/app_settings.h"

#include <stdlib.h>

#include <sstream>

#include "platform/autostart.h"
#include "platform/module_info.h"
#include "store/database.h"

namespace tovarek {

namespace {

// The stored switch `settype` into `value`; false when it could not be read.
bool LoadSwitch(Database& db, int settype, int& value) {
    QueryTable table;
    int rows = 0;
    int columns = 0;
    const bool read = Query(db, BuildSettingSql(0, settype, 0), table, rows, columns) == 0;
    value = read && table.size() >= 2 && atoi(table[1][0].c_str()) == 1;
    return read && table.size() >= 2;
}

}  // namespace

bool AppSettings::LoadSettings() {
    defaultScanDirs.clear();
    autoRun = AutoRunEntry(0);
    Database db;
    OpenDatabase(db);
    int deleteValue = 0;
    bool read = LoadSwitch(db, 1, closeToTray);
    read &= LoadSwitch(db, 2, autoScan);
    read &= LoadSwitch(db, 3, deleteValue);
    deleteOnFind.store(deleteValue);
    CloseDatabase(db);
    return read;
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
    int value = 0;
    LoadSwitch(db, settype, value);
    return value == 1;
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
    switch (mode) {
        case 1:
            return WriteAutostartEntry(program);
        case 2:
            return DeleteAutostartEntry();
        case 0:
            return AutostartEntryStarts(program);
        default:
            return false;
    }
}

}  // namespace tovarek
