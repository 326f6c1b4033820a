#include "platform/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>

#include "platform/program_folders.h"

namespace tovarek {
namespace {

int OpenFolder(const std::string& folder) {
    // O_NOFOLLOW on the folder's own name: a link planted as the folder fails with ELOOP or
    // ENOTDIR instead of leading the logs elsewhere.
    int fd;
    do {
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Appends to `name` in `dirFd`. O_NONBLOCK keeps a FIFO planted there from blocking the open;
// only a regular file with no second name is written, so a hard link to another file is not.
int Append(int dirFd, const char* name, std::string_view bytes) {
    int fd;
    do {
        fd = openat(dirFd, name,
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode) || st.st_nlink != 1)
        err = EPERM;
    else if (!WriteAll(fd, bytes))
        err = errno ? errno : EIO;
    close(fd);
    return err;
}

// A new file under a random name beside `name`, renamed over it when complete.
int Replace(int dirFd, const char* name, std::string_view bytes) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        unsigned long long tag = 0;
        if (getrandom(&tag, sizeof tag, 0) != static_cast<ssize_t>(sizeof tag))
            tag = static_cast<unsigned long long>(getpid()) * 1000003u + attempt;
        char buf[40];
        snprintf(buf, sizeof buf, ".%016llx.tmp", tag);
        temp = std::string(".") + name + buf;
        do {
            fd = openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    int err = WriteAll(fd, bytes) ? 0 : (errno ? errno : EIO);
    if (close(fd) != 0 && !err) err = errno;
    if (!err && renameat(dirFd, temp.c_str(), dirFd, name) != 0) err = errno;
    if (err) unlinkat(dirFd, temp.c_str(), 0);
    return err;
}

void ReportOnce(const std::string& path, int err) {
    static std::mutex mutex;
    static std::set<std::string>* reported = new std::set<std::string>();  // lives to the end
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reported->insert(path).second) return;
    }
    fprintf(stderr, "%s: cannot write the log %s: %s\n", program_invocation_short_name,
            path.c_str(), strerror(err));
}

}  // namespace

bool WriteLogFile(const std::string& path, std::string_view bytes, LogWrite mode) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    int err = 0;
    int dirFd = OpenFolder(folder.empty() ? "/" : folder);
    if (dirFd < 0 && errno == ENOENT) {
        MakeFolders(folder);
        dirFd = OpenFolder(folder);
    }
    if (dirFd < 0) {
        err = errno;
    } else {
        err = mode == LogWrite::kAppend ? Append(dirFd, name.c_str(), bytes)
                                        : Replace(dirFd, name.c_str(), bytes);
        close(dirFd);
    }
    if (err) ReportOnce(path, err);
    return err == 0;
}

}  // namespace tovarek
