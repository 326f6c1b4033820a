// Scan roots spelled as the kernel spells paths: a found file's processes are matched by the
// exact path of their executable, which the kernel reports without links, "." or "..".
// Thread-safe.
#pragma once

#include <string>

#include "scan/scan_engine.h"

namespace tovarek {

// realpath of `root` with exactly one trailing '/' ("/" stays "/"). False, and `out` untouched,
// when the path can't be resolved (missing, no access).
bool CanonicalScanRoot(const std::u16string& root, std::u16string& out);

// Every root made canonical; a root that can't be resolved is kept as given (the walk skips it).
ScanRoots CanonicalScanRoots(const ScanRoots& roots);

}  // namespace tovarek
