// md5sum's way of keeping one name on one line: a name holding a backslash, a line feed or a
// carriage return is written escaped, and the line that carries it starts with a backslash.
#pragma once

#include <string>
#include <string_view>

namespace tovarek::cli {

// The escaped name; `needsMark` tells whether the line must start with a backslash.
inline std::string EscapePathLikeMd5sum(std::string_view name, bool& needsMark) {
    needsMark = name.find_first_of("\\\n\r") != std::string_view::npos;
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace tovarek::cli
