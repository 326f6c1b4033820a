// Deleting a file only while it is still a known one: the path must name a regular file with the
// recorded device and inode. Used for files remembered from earlier (an intercepted executable),
// which a package update or a clean copy may have replaced since. Thread-safe.
#pragma once

#include <sys/types.h>

#include <string>

namespace tovarek {

// Unlinks `path` when its last component is a regular file (not followed if it is a link) with
// this device and inode. The folder is opened once and both the check and the unlink are made
// relative to it, so a folder swapped in between is never reached. True when the file was deleted.
bool DeleteFileIfSame(const std::string& path, dev_t device, ino_t inode);

}  // namespace tovarek
