// Starting the sibling updater "Kelvane" once at start-up. UI thread.
#pragma once

#include <QString>

namespace tovarek {

// Starts `path` detached (no shell, no arguments; it outlives the program and is never waited
// for) when it is a regular file this user may execute. False, silently, when it is missing, is
// a directory, a special file or not executable, or could not be started.
bool LaunchUpdater(const QString& path);

}  // namespace tovarek
