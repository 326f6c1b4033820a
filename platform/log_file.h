// Writing a log file in one piece: the program's logs (database errors, interceptions, scans)
// are plain files under "log/" that are either appended to or rewritten whole. Thread-safe; two
// writers appending to one file interleave whole writes only.
#pragma once

#include <string>
#include <string_view>

namespace tovarek {

enum class LogWrite { kAppend, kReplace };

// Writes all of `bytes` (already in their final encoding) to `path`, created with mode 0644 when
// missing. True only when every byte was written.
bool WriteLogFile(const std::string& path, std::string_view bytes, LogWrite mode);

}  // namespace tovarek
