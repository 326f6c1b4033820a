#include "platform/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace tovarek {

bool WriteLogFile(const std::string& path, std::string_view bytes, LogWrite mode) {
    const int how = mode == LogWrite::kAppend ? O_APPEND : O_TRUNC;
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | how, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == bytes.size();
}

}  // namespace tovarek
