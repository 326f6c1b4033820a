#include "scan/quarantine_record.h"

#include <charconv>
#include <cstdio>
#include <map>
#include <vector>

namespace tovarek {
namespace {

constexpr char kHeader[] = "tovarek-quarantine 1";

bool IsLowerHex(std::string_view text, size_t length) {
    if (text.size() != length) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string ToHex(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool FromHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexValue(hex[i]);
        int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// "seconds.nanoseconds", nanoseconds as nine digits.
bool ParseTime(std::string_view text, int64_t& sec, int64_t& nsec) {
    size_t dot = text.find('.');
    if (dot == std::string_view::npos || text.size() - dot - 1 != 9) return false;
    return ParseNumber(text.substr(0, dot), sec) && ParseNumber(text.substr(dot + 1), nsec) &&
           nsec >= 0 && nsec < 1000000000;
}

std::string FormatTime(int64_t sec, int64_t nsec) {
    char digits[16];
    snprintf(digits, sizeof digits, "%09lld", static_cast<long long>(nsec));
    return std::to_string(sec) + "." + digits;
}

}  // namespace

const char* QuarantineOriginName(QuarantineOrigin origin) {
    switch (origin) {
        case QuarantineOrigin::kScan:
            return "scan";
        case QuarantineOrigin::kScanPage:
            return "scan-page";
        case QuarantineOrigin::kProtectPage:
            return "protect-page";
    }
    return "scan";
}

bool IsQuarantineId(std::string_view id) {
    return IsLowerHex(id, 16);
}

std::string FormatQuarantineRecord(const QuarantineRecord& r) {
    char mode[16];
    snprintf(mode, sizeof mode, "%o", r.mode);
    std::string text = std::string(kHeader) + "\n";
    text += "path " + ToHex(r.pathBytes) + "\n";
    text += "owner " + std::to_string(r.ownerId) + "\n";
    text += "group " + std::to_string(r.groupId) + "\n";
    text += std::string("mode ") + mode + "\n";
    text += "size " + std::to_string(r.sizeBytes) + "\n";
    text += "mtime " + FormatTime(r.mtimeSec, r.mtimeNsec) + "\n";
    text += "atime " + FormatTime(r.atimeSec, r.atimeNsec) + "\n";
    text += "md5 " + r.md5 + "\n";
    text += "sha256 " + r.sha256 + "\n";
    text += "entry " + ToHex(r.listedEntry) + "\n";
    text += "time " + std::to_string(r.time) + "\n";
    text += std::string("origin ") + QuarantineOriginName(r.origin) + "\n";
    return text;
}

bool ParseQuarantineRecord(std::string_view text, QuarantineRecord& out) {
    std::map<std::string_view, std::string_view> fields;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        // Written whole with a final line end: a record cut short is not a record.
        if (end == std::string_view::npos) return false;
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            if (line != kHeader) return false;
            first = false;
            continue;
        }
        size_t space = line.find(' ');
        if (space == std::string_view::npos) return false;
        if (!fields.emplace(line.substr(0, space), line.substr(space + 1)).second) return false;
    }
    static const std::vector<std::string_view> kKeys = {"path",   "owner", "group", "mode",
                                                        "size",   "mtime", "atime", "md5",
                                                        "sha256", "entry", "time",  "origin"};
    if (first || fields.size() != kKeys.size()) return false;
    for (std::string_view key : kKeys) {
        if (!fields.count(key)) return false;
    }
    std::string_view origin = fields["origin"];
    if (origin == "scan") {
        out.origin = QuarantineOrigin::kScan;
    } else if (origin == "scan-page") {
        out.origin = QuarantineOrigin::kScanPage;
    } else if (origin == "protect-page") {
        out.origin = QuarantineOrigin::kProtectPage;
    } else {
        return false;
    }
    if (!IsLowerHex(fields["md5"], 32) || !IsLowerHex(fields["sha256"], 64)) return false;
    out.md5 = fields["md5"];
    out.sha256 = fields["sha256"];
    return FromHex(fields["path"], out.pathBytes) && !out.pathBytes.empty() &&
           ParseNumber(fields["owner"], out.ownerId) && ParseNumber(fields["group"], out.groupId) &&
           ParseNumber(fields["mode"], out.mode, 8) && ParseNumber(fields["size"], out.sizeBytes) &&
           ParseTime(fields["mtime"], out.mtimeSec, out.mtimeNsec) &&
           ParseTime(fields["atime"], out.atimeSec, out.atimeNsec) &&
           FromHex(fields["entry"], out.listedEntry) && ParseNumber(fields["time"], out.time);
}

}  // namespace tovarek
