// Keeping one name on one line, as md5sum does: backslashes, line feeds and carriage returns
// (and, for tab-separated tables, tabs) are written escaped. A line that carries an escaped
// md5sum name starts with a backslash.
#pragma once

#include <string>
#include <string_view>

namespace tovarek::cli {

inline std::string EscapeName(std::string_view name, bool alsoTabs = false) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t' && alsoTabs)
            out += "\\t";
        else
            out.push_back(c);
    }
    return out;
}

inline const char* Md5sumLineMark(std::string_view name) {
    return name.find_first_of("\\\n\r") != std::string_view::npos ? "\\" : "";
}

}  // namespace tovarek::cli
