// Memory advice for large buffers that are filled once from start to end (a file's text).
#pragma once

#include <cstddef>

namespace tovarek {

// Asks the kernel to back the 2 MiB-aligned inside of [data, data + bytes) with huge pages, so
// that filling it takes a few page faults instead of one per 4 KiB. Only a hint: does nothing
// for small buffers or where transparent huge pages are off.
void PreferHugePages(void* data, size_t bytes);

}  // namespace tovarek
