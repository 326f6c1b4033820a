#include "store/app_settings.h"

#include <stdlib.h>

#include <sstream>

#include "platform/autostart.h"
#include "platform/module_info.h"
#include "store/database.h"

namespace tovarek {

namespace {

// Start-up reads the switches before the window appears: a database another process holds
// locked costs at most this wait for the whole record, and the switches then keep their
// designed values (off) for this run.
constexpr int kLoadBusyTimeoutMs = 400;

// The stored switch `settype` into `value` (0 when no row holds it). Returns the query's code.
int LoadSwitch(Database& db, int settype, int& value) {
    QueryTable table;
    int rows = 0;
    int columns = 0;
    const int rc = Query(db, BuildSettingSql(0, settype, 0), table, rows, columns);
    value = rc == 0 && table.size() >= 2 && atoi(table[1][0].c_str()) == 1;
    return rc;
}

// Writes switch `settype`; true when its row now holds `value`. The statement's own outcome
// decides: inside its transaction a failed update still ends in a commit that succeeds, and an
// update of a missing row changes nothing.
bool StoreSwitch(Database& db, int settype, int value) {
    int changed = 0;
    const int rc = Execute(db, BuildSettingSql(1, settype, value), {}, true, &changed);
    return rc == 0 && db.LastStatementCode() == 0 && changed > 0;
}

}  // namespace

bool AppSettings::LoadSettings() {
    defaultScanDirs.clear();
    autoRun = AutoRunEntry(0);
    Database db;
    OpenDatabase(db);
    SetBusyTimeout(db, kLoadBusyTimeoutMs);
    int values[3] = {0, 0, 0};
    bool read = db.IsOpen();
    // A failed query ends the reading: the connection is locked out or broken, and each further
    // query would only wait as long again.
    for (int settype = 1; read && settype <= 3; ++settype) {
        read = LoadSwitch(db, settype, values[settype - 1]) == 0;
    }
    if (read) {
        closeToTray = values[0];
        autoScan = values[1];
        deleteOnFind.store(values[2]);
    }
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
    // Asked back rather than taken from the write: removing an entry that was not there is no
    // failure, an entry that could not be written is.
    bool saved = AutoRunEntry(0) == (autoRun != 0);
    Database db;
    OpenDatabase(db);
    closeToTray = closeToTrayValue;
    saved &= StoreSwitch(db, 1, closeToTray);
    autoScan = autoScanValue;
    saved &= StoreSwitch(db, 2, autoScan);
    deleteOnFind.store(deleteOnFindValue);
    saved &= StoreSwitch(db, 3, deleteOnFindValue);
    CloseDatabase(db);
    return saved ? 0 : -1;
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
