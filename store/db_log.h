// The database error log "dberr.log" in the log folder (platform/program_folders.h).
#pragma once

#include <string>

namespace tovarek {

// Appends `messageUtf8` exactly as composed (no stamp, no prefix), converted to the ANSI code
// page, with each "\n" written as CR LF. Each message is written in one piece, so messages from
// two threads never mix inside each other. A log that can't be opened loses the message.
void LogDbError(const std::string& messageUtf8, bool enabled);

// Turns every "\n" into "\r\n".
std::string ToCrLf(const std::string& text);

}  // namespace tovarek
