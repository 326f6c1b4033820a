#include "scan/quarantine_result.h"

#include <string.h>

namespace tovarek {

std::string QuarantineFailureText(const QuarantineResult& result) {
    std::string what;
    switch (result.status) {
        case QuarantineStatus::kMoved:
            return "moved into the quarantine";
        case QuarantineStatus::kNotJudged:
            return "no longer the file that was found";
        case QuarantineStatus::kUnreadable:
            what = "cannot read the file";
            break;
        case QuarantineStatus::kNoSpace:
            what = "no space left for the quarantine";
            break;
        case QuarantineStatus::kCannotStore:
            what = "cannot write to the quarantine folder";
            break;
        case QuarantineStatus::kChanged:
            what = "the file changed while it was read";
            break;
        case QuarantineStatus::kNotRemoved:
            what = "cannot remove the file from its folder";
            break;
    }
    if (result.error > 0) what += std::string(": ") + strerror(result.error);
    return what;
}

std::u16string QuarantineFailureNote(QuarantineStatus status) {
    switch (status) {
        case QuarantineStatus::kUnreadable:
            return u"(未隔离：无法读取文件)";
        case QuarantineStatus::kNoSpace:
            return u"(未隔离：隔离区空间不足)";
        case QuarantineStatus::kCannotStore:
            return u"(未隔离：无法写入隔离区)";
        case QuarantineStatus::kChanged:
            return u"(未隔离：文件正在被改写)";
        case QuarantineStatus::kNotRemoved:
            return u"(未隔离：无法从原目录移除)";
        case QuarantineStatus::kMoved:
        case QuarantineStatus::kNotJudged:
            break;
    }
    return {};
}

}  // namespace tovarek
