// The settings record: four 0/1 switches and the default scan directories. Built once at
// start-up and written only on the UI thread; the scan worker reads deleteOnFind when a scan
// begins, which is why that one field is atomic.
#pragma once

#include <atomic>
#include <list>
#include <string>

namespace tovarek {

class Database;

class AppSettings {
public:
    // All switches 0 and nothing read: callers that must not open (or create) the database keep
    // it so; everyone else calls LoadSettings.
    AppSettings() = default;
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // Autorun from the autostart entry, the three switches from setini, waiting at most a moment
    // for a database another process holds locked. False when the database could not be opened
    // or a switch could not be read: the three switches then keep the values they had (the
    // designed off, at start-up). A switch without a row reads 0.
    bool LoadSettings();
    // Appends the default scan directory "/opt/".
    void SeedDefaultScanDir();
    // Stores the four values, rewrites the autostart entry and the three setini rows. Returns 0,
    // or -1 when a row or the autostart entry could not be written (the values are kept in
    // memory all the same).
    int SaveSettings(int autoRun, int closeToTray, int autoScan, int deleteOnFind);

    int autoRun = 0;
    int closeToTray = 0;
    int autoScan = 0;
    std::atomic<int> deleteOnFind{0};
    std::list<std::u16string> defaultScanDirs;  // each ends in '/'
};

// True only when the stored setkey of `settype` converts (atoi) to exactly 1.
bool ReadSetting(Database& db, int settype);

// kind 0: "select setkey from setini where settype=N"; kind 1: "update setini set setkey=V where
// settype=N". Any other kind gives an empty text.
std::string BuildSettingSql(int kind, int settype, int value);

// mode 0 checks that an autostart entry (machine-wide or the user's) names this executable
// exactly, 1 writes it (machine-wide when allowed, else the user's), 2 deletes it from both.
// False when the operation failed.
bool AutoRunEntry(int mode);

}  // namespace tovarek
