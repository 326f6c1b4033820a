// What the quarantine keeps about one item: where the file was, who owned it, its mode, size and
// times, its two digests, the list entry that matched, and when and by what it was moved in. Kept
// as a small text file beside the item (one "key value" line per field; the path and the entry
// as hex, since a file name may hold any byte but '/' and NUL). Pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovarek {

// What moved a file in: delete-on-find during a scan, or "删除所选" on one of the two pages.
enum class QuarantineOrigin { kScan, kScanPage, kProtectPage };

// "scan", "scan-page", "protect-page".
const char* QuarantineOriginName(QuarantineOrigin origin);

struct QuarantineRecord {
    std::string id;         // 16 lower-case hex digits; also the item's file names
    std::string pathBytes;  // the original path as the file system named it
    uint32_t ownerId = 0;
    uint32_t groupId = 0;
    uint32_t mode = 0;  // st_mode as it was: type and permission bits
    uint64_t sizeBytes = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    int64_t atimeSec = 0;
    int64_t atimeNsec = 0;
    std::string md5;          // 32 lower-case hex digits
    std::string sha256;       // 64 lower-case hex digits
    std::string listedEntry;  // the matching list entry: its fingerprint or its name (UTF-8)
    int64_t time = 0;         // moved in, seconds since 1970 UTC
    QuarantineOrigin origin = QuarantineOrigin::kScan;
};

// True for 16 lower-case hex digits: nothing else may name a file in the quarantine folder.
bool IsQuarantineId(std::string_view id);

std::string FormatQuarantineRecord(const QuarantineRecord& record);

// Reads what FormatQuarantineRecord wrote: every field exactly once, nothing unknown, numbers in
// range. False (leaving `out` in an unspecified state) for anything else. `out.id` is left as
// the caller set it: the record's own file name tells the id.
bool ParseQuarantineRecord(std::string_view text, QuarantineRecord& out);

}  // namespace tovarek
