// Findings and deletions of dangerous files, also told to the system journal (platform/journal.h)
// with the words of the scan log. Stateless; any thread.
#pragma once

#include <string>

namespace tovarek {

// A file the scan found: its path, "(系统文件，未处理)" after it for a system file, and its
// fingerprint when it was taken (`digest`: 32 hex digits, or null).
void JournalFinding(const std::u16string& filePath, bool systemFile, const char* digest);

// A found file moved out of its place into the quarantine: "<path>(已删除)".
void JournalDeletion(const std::string& pathBytes, const std::string& md5);

}  // namespace tovarek
