// Where the running executable lives and which version it is.
// Thread-safe.
#pragma once

#include <string>

namespace tovarek {

// Full path of the running executable (readlink of /proc/self/exe, without the kernel's
// " (deleted)" marker); empty if it can't be read. The one answer to "the program's own path".
std::string ModulePath();

// Directory of the executable, ending in '/', as CurrentEnv() answers it (tests point it at a
// folder they own). Logs go to ModuleDir() + "log/".
std::string ModuleDir();

// The project version compiled into the binary as "%d.%d.%d.%d " (note the trailing blank).
std::string VersionText();

}  // namespace tovarek
