#include "platform/autostart.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "platform/name_escape.h"
#include "platform/program_folders.h"

namespace tovarek {
namespace {

constexpr const char* kEntryName = "Tovarek.desktop";

// An Exec value is read in two steps (the freedesktop.org desktop entry format): first as a string
// value, whose escapes are \s \n \t \r and \\, then by the Exec quoting, inside which '"', '`', '$'
// and '\' take a backslash and '%' is doubled (it starts field codes). Writing applies the
// two steps in reverse order, so every path is read back exactly.
std::string QuoteExec(const std::string& program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
        if (c == '%') quoted.push_back('%');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return EscapeName(quoted, EscapeRule::kDesktopEntry);
}

// The string-value step of reading.
std::string UnescapeString(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            switch (next) {
                case 's':
                    out.push_back(' ');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                default:
                    out.push_back('\\');
                    out.push_back(next);
            }
            continue;
        }
        out.push_back(value[i]);
    }
    return out;
}

// The first argument of an Exec value after the string step, unquoted.
std::string UnquoteExec(const std::string& value) {
    std::string out;
    size_t i = 0;
    if (!value.empty() && value[0] == '"') {
        for (i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            else if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%')
                ++i;
            out.push_back(value[i]);
        }
        return out;
    }
    for (; i < value.size() && value[i] != ' '; ++i) {
        if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%') ++i;
        out.push_back(value[i]);
    }
    return out;
}

}  // namespace

std::string AutostartDir() {
    const char* dirs = getenv("XDG_CONFIG_DIRS");
    std::string list = dirs ? dirs : "";
    std::stringstream parts(list);
    std::string entry;
    while (std::getline(parts, entry, ':')) {
        // The format ignores empty and relative entries.
        if (entry.empty() || entry[0] != '/') continue;
        if (entry.back() != '/') entry.push_back('/');
        return entry + "autostart/";
    }
    return "/etc/xdg/autostart/";
}

std::string UserAutostartDir() {
    const std::string base = XdgFolder("XDG_CONFIG_HOME", ".config/");
    return base.empty() ? base : base + "autostart/";
}

bool AutostartDirUsable() {
    struct stat st;
    std::string dir = AutostartDir();
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(dir.c_str(), W_OK) == 0;
}

namespace {

// A desktop entry is a few hundred bytes; a larger file is not one of ours.
constexpr off_t kMaxEntryBytes = 64 * 1024;

bool ReadEntry(const std::string& path, std::string& text) {
    // O_NONBLOCK: a FIFO under the name must not hold the open (nor the start-up) for ever;
    // whatever was opened is then read only when it is a regular file of sane size.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxEntryBytes;
    if (ok) {
        text.resize(static_cast<size_t>(kMaxEntryBytes));
        size_t got = 0;
        while (got < text.size()) {
            ssize_t n = read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
    }
    close(fd);
    return ok;
}

bool WriteEntryIn(const std::string& dir, const std::string& program) {
    std::string path = dir + kEntryName;
    std::string temp = path + ".tmp";
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Tovarek\n"
        "Exec=" +
        QuoteExec(program) +
        "\n"
        "X-GNOME-Autostart-enabled=true\n";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}

}  // namespace

bool ReadAutostartExecIn(const std::string& dir, std::string& program) {
    std::string text;
    if (dir.empty() || !ReadEntry(dir + kEntryName, text)) return false;
    std::stringstream in(text);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (inMainGroup && line.compare(0, 5, "Exec=") == 0) {
            program = UnquoteExec(UnescapeString(line.substr(5)));
            return !program.empty();
        }
    }
    return false;
}

bool ReadAutostartExec(std::string& program) {
    return ReadAutostartExecIn(AutostartDir(), program) ||
           ReadAutostartExecIn(UserAutostartDir(), program);
}

bool AutostartEntryStarts(const std::string& program) {
    std::string stored;
    if (ReadAutostartExecIn(AutostartDir(), stored) && stored == program) return true;
    stored.clear();
    return ReadAutostartExecIn(UserAutostartDir(), stored) && stored == program;
}

bool WriteAutostartEntry(const std::string& program) {
    if (AutostartDirUsable()) return WriteEntryIn(AutostartDir(), program);
    // An ordinary user may not write the machine-wide folder; the session reads the user's own
    // autostart folder as well, so the choice still holds at the next login.
    const std::string user = UserAutostartDir();
    return !user.empty() && MakeFolders(user) && WriteEntryIn(user, program);
}

bool DeleteAutostartEntry() {
    bool removed = false;
    bool left = false;
    for (const std::string& dir : {AutostartDir(), UserAutostartDir()}) {
        if (dir.empty()) continue;
        const std::string path = dir + kEntryName;
        if (unlink(path.c_str()) == 0) {
            removed = true;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            left = true;  // one that stays would still start the program
        }
    }
    return removed && !left;
}

}  // namespace tovarek
