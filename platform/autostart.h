// The desktop's autostart entry "Tovarek.desktop" in the autostart folder of the first
// $XDG_CONFIG_DIRS entry (default /etc/xdg). Reads the environment at each call; thread-safe.
#pragma once

#include <string>

namespace tovarek {

// The folder, ending in '/': first absolute entry of $XDG_CONFIG_DIRS + "autostart/".
std::string AutostartDir();

// True when the folder exists and this process may write in it (the entry "can be opened").
bool AutostartDirUsable();

// Reads the program path from the entry's Exec line. False when there is no entry or no Exec.
bool ReadAutostartExec(std::string& program);

// Writes the entry for `program` (atomically, through a temporary file). True on success.
bool WriteAutostartEntry(const std::string& program);

// Removes the entry. True only when an entry was removed.
bool DeleteAutostartEntry();

}  // namespace tovarek
