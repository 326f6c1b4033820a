// Writing a log file in one piece: the program's logs (database errors, interceptions, scans)
// are plain files in the log folder that are either appended to or rewritten whole. Links are
// never followed: neither the folder itself nor a name planted in it can point the write at
// another file. Thread-safe; two writers appending to one file interleave whole writes only.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

enum class LogWrite { kAppend, kReplace };

// Writes all of `bytes` (already in their final encoding) to `path`. The folder is made when
// missing (mode 0700, parents too) and must be a real folder, not a link to one. kAppend appends
// to a regular file with one link, or creates it (mode 0644); kReplace writes a new file under a
// name of its own and renames it over `path`, so whatever stood there (a link too) is replaced,
// never written through. True only when every byte was written; the first failure for each path
// is reported on standard error.
bool WriteLogFile(const std::string& path, std::string_view bytes, LogWrite mode);

}  // namespace tovarek
