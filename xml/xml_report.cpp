// The report: findings of a parse or a file operation as a run of empty XML elements,
// <name attr="value" .../>, capped at 1,000 characters.
#include <stdio.h>

#include "xml/xml_doc.h"
#include "xml/xml_text.h"

namespace tovarek {
namespace {

constexpr size_t kReportCap = 1000;

// Sets `attr` in the entry whose closing "/>" starts at `close`, in place when present.
void SetAttribute(std::u16string& report, size_t entryStart, size_t& close,
                  std::u16string_view attr, std::u16string_view rawValue) {
    std::u16string value = EscapeText(rawValue, kEscapeAttribute);
    // Attributes are ` name="value"`; values are escaped, so '"' only delimits.
    size_t p = report.find(u' ', entryStart);
    while (p != std::u16string::npos && p < close) {
        size_t nameStart = p + 1;
        size_t eq = report.find(u'=', nameStart);
        if (eq == std::u16string::npos || eq >= close) break;
        size_t valueStart = eq + 2;
        size_t valueEnd = report.find(u'"', valueStart);
        if (valueEnd == std::u16string::npos || valueEnd >= close) break;
        if (std::u16string_view(report).substr(nameStart, eq - nameStart) == attr) {
            report.replace(valueStart, valueEnd - valueStart, value);
            close = close - (valueEnd - valueStart) + value.size();
            return;
        }
        p = valueEnd + 1;
    }
    std::u16string insert;
    insert.reserve(attr.size() + value.size() + 4);
    insert += u' ';
    insert += attr;
    insert += u"=\"";
    insert += value;
    insert += u'"';
    report.insert(close, insert);
    close += insert.size();
}

std::u16string Decimal(long long number) {
    char buf[32];
    int n = snprintf(buf, sizeof buf, "%lld", number);
    return std::u16string(buf, buf + n);
}

// The first top-level entry named `name`: its start and the offset of its "/>".
bool FindEntry(const std::u16string& report, std::u16string_view name, size_t& start,
               size_t& close) {
    size_t p = 0;
    while ((p = report.find(u'<', p)) != std::u16string::npos) {
        size_t end = report.find(u'>', p);
        if (end == std::u16string::npos) return false;
        size_t nameEnd = p + 1;
        while (nameEnd < end && report[nameEnd] != u' ' && report[nameEnd] != u'/') ++nameEnd;
        if (std::u16string_view(report).substr(p + 1, nameEnd - p - 1) == name &&
            report[end - 1] == u'/') {
            start = p;
            close = end - 1;
            return true;
        }
        p = end;
    }
    return false;
}

}  // namespace

void AddReportEntry(std::u16string& report, std::u16string_view name,
                    std::optional<std::u16string_view> value, uint32_t flags, long long number,
                    long long number2) {
    if (report.size() >= kReportCap) return;
    size_t start = 0;
    size_t close = 0;
    if (flags & kReportUpdate) {
        if (!FindEntry(report, name, start, close)) return;
    } else {
        start = report.size();
        report += u'<';
        report += name;
        close = report.size();
        report += u"/>";
    }
    if (value) {
        // A name can be as long as the document; the report keeps no more of it than the report
        // itself may hold, cut before it is escaped (which can grow it sixfold) and never between
        // the two halves of a surrogate pair.
        std::u16string_view shown = value->substr(0, kReportCap);
        if (shown.size() < value->size() && shown.back() >= 0xD800 && shown.back() <= 0xDBFF) {
            shown.remove_suffix(1);
        }
        const char16_t* attr = (flags & kReportType)       ? u"type"
                               : (flags & kReportEncoding) ? u"encoding"
                               : (flags & kReportMsg)      ? u"msg"
                                                           : u"tagname";
        SetAttribute(report, start, close, attr, shown);
    }
    const char16_t* numberAttr = (flags & kReportN)        ? u"n"
                                 : (flags & kReportCount)  ? u"count"
                                 : (flags & kReportLength) ? u"length"
                                 : number != -1            ? u"offset"
                                                           : nullptr;
    if (numberAttr) SetAttribute(report, start, close, numberAttr, Decimal(number));
    if (number2 != -1) SetAttribute(report, start, close, u"offset2", Decimal(number2));
}

}  // namespace tovarek
