// Opening a file for reading only once it is known to be a regular one. The name is resolved
// once, to a descriptor that can neither read nor reach a driver (O_PATH); the caller checks what
// it names, and the read opens that very file again through /proc/self/fd. A name swapped for a
// device or a FIFO in between is never opened. Thread-safe.
#pragma once

#include <sys/stat.h>

namespace tovarek {

// openat(at, name, O_PATH | O_CLOEXEC), links followed, and its fstat into `st`. The descriptor,
// or -1 with errno set.
int OpenPathAt(int at, const char* name, struct stat& st);

// Reads the file `pathFd` (from OpenPathAt) names: O_RDONLY | O_CLOEXEC | O_NOCTTY. The caller
// has checked that it is a regular file. `procFdDir`: an open "/proc/self/fd" to look the
// descriptor up in, saving the walk down to it for each file; -1 to go by the full path. The
// descriptor, or -1 with errno set.
int ReopenForReading(int pathFd, int procFdDir = -1);
// An open "/proc/self/fd" for ReopenForReading (O_PATH); -1 when it can't be opened.
int OpenProcFdDir();

}  // namespace tovarek
