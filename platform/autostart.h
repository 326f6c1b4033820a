// The desktop's autostart entry "Tovarek.desktop": machine-wide in the autostart folder of the
// first $XDG_CONFIG_DIRS entry (default /etc/xdg) when this process may write there, else the
// user's own in $XDG_CONFIG_HOME/autostart/ (default ~/.config/autostart/). Reads the environment
// at each call; thread-safe.
#pragma once

#include <string>

namespace tovarek {

// The machine-wide folder, ending in '/': first absolute entry of $XDG_CONFIG_DIRS + "autostart/".
std::string AutostartDir();

// The user's folder, ending in '/'; empty when there is no home folder.
std::string UserAutostartDir();

// True when the machine-wide folder exists and this process may write in it.
bool AutostartDirUsable();

// Reads the program path from the Exec line of the entry in `dir`. The entry is read only when it
// is a regular file of at most 64 KiB (a FIFO or a device there is never opened for long). False
// when there is no such entry or no Exec.
bool ReadAutostartExecIn(const std::string& dir, std::string& program);

// The entry in force: the machine-wide one, else the user's.
bool ReadAutostartExec(std::string& program);

// True when an entry in either folder starts `program`.
bool AutostartEntryStarts(const std::string& program);

// Writes the entry for `program` (atomically, through a temporary file) in the machine-wide
// folder when usable, else in the user's (made, mode 0700, when missing). True on success.
bool WriteAutostartEntry(const std::string& program);

// Removes the entry from both folders. True only when an entry was removed and none is left.
bool DeleteAutostartEntry();

}  // namespace tovarek
