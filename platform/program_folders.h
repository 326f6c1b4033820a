// Where the program keeps its own files. A build or an unpacked copy run from its folder keeps
// them as designed: Ravlin.db (and what lies beside it) in the current directory, logs in "log/"
// beside the executable. The installed program (its executable in a "bin/" folder with
// "../share/tovarek/Ravlin.db" beside it) cannot write there and runs from wherever the desktop
// starts it, so it keeps them in the user's XDG folders: $XDG_DATA_HOME/tovarek/ and
// $XDG_STATE_HOME/tovarek/log/. Reads the environment at each call; thread-safe.
#pragma once

#include <string>

namespace tovarek {

// True when `moduleDir` (ending in '/') is ".../bin/" with "../share/tovarek/Ravlin.db" beside it.
bool IsInstalledLayout(const std::string& moduleDir);

// An XDG base folder: `variable` when it holds an absolute path (the XDG rule ignores relative
// ones), else the home folder + `underHome`. Ends in '/'; empty when there is no home folder.
std::string XdgFolder(const char* variable, const char* underHome);

// The folder of Ravlin.db, ending in '/': "" (the current directory) for a build, the user's
// $XDG_DATA_HOME/tovarek/ for the installed program.
std::string DataFolder();

// DataFolder() + name.
std::string DataFile(const char* name);

// The log folder of a program whose executable lies in `moduleDir`: moduleDir + "log/", or the
// user's $XDG_STATE_HOME/tovarek/log/ when that is an installed layout. Ends in '/'.
std::string LogFolderOf(const std::string& moduleDir);

// For the installed program: makes the data folder (mode 0700, missing parents too) and copies
// the installed database into it when it holds none yet. Nothing for a build. False when the
// folder can't be made or the copy failed; the program then goes on and the database layer
// reports what it can't open.
bool PrepareDataFolder();

// Makes `path` and its missing parents with mode 0700; an existing folder is left as it is. True
// when `path` is a folder afterwards.
bool MakeFolders(const std::string& path);

}  // namespace tovarek
