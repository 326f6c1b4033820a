#include "store/db_log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/code_page.h"
#include "platform/module_info.h"

namespace tovarek {

std::string ToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

bool AppendToFile(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == text.size();
}

void LogDbError(const std::string& messageUtf8, bool enabled) {
    if (!enabled) return;
    std::string dir = ModuleDir() + "log/";
    mkdir(dir.c_str(), 0755);  // usually exists already
    std::string text = Utf16ToAnsi(Utf8ToUtf16(messageUtf8));
    AppendToFile(dir + "dberr.log", ToCrLf(text));
}

}  // namespace tovarek
