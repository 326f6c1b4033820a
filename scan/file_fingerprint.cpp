#include "scan/file_fingerprint.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/regular_file.h"
#include "scan/md5.h"

namespace tovarek {
namespace {

constexpr size_t kReadBufferBytes = 10240;

void DigestToText(const unsigned char digest[16], char text[33]) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 15];
    }
    text[32] = '\0';
}

}  // namespace

bool ComputeFdMd5(int fd, char digestText[33]) {
    return ComputeFdMd5(fd, digestText, {});
}

bool ComputeFdMd5(int fd, char digestText[33], const std::function<bool()>& keepGoing) {
    // The bytes the file held when it was opened. Kernel files (/proc, /sys) report size 0 and
    // are read to their end.
    struct stat st;
    off_t offset = lseek(fd, 0, SEEK_CUR);
    bool bounded = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && offset >= 0;
    uint64_t left = bounded && st.st_size > offset ? static_cast<uint64_t>(st.st_size - offset) : 0;
    Md5Context ctx;
    Md5Init(ctx);
    unsigned char buffer[kReadBufferBytes];
    uint64_t sinceCheck = kFingerprintCheckBytes;
    while (!bounded || left > 0) {
        if (keepGoing && sinceCheck >= kFingerprintCheckBytes) {
            sinceCheck = 0;
            if (!keepGoing()) {
                unsigned char discard[16];
                Md5Final(ctx, discard);
                errno = ECANCELED;
                return false;
            }
        }
        size_t want = sizeof buffer;
        if (bounded && left < want) want = static_cast<size_t>(left);
        ssize_t n = read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // A digest of the first part would name another file.
            int err = errno;
            unsigned char discard[16];
            Md5Final(ctx, discard);
            errno = err;
            return false;
        }
        if (n == 0) break;
        Md5Update(ctx, buffer, static_cast<size_t>(n));
        sinceCheck += static_cast<uint64_t>(n);
        if (bounded) left -= static_cast<uint64_t>(n);
    }
    unsigned char digest[16];
    Md5Final(ctx, digest);
    char text[33];
    DigestToText(digest, text);
    memcpy(digestText, text, sizeof text);
    return true;
}

bool ComputeFileMd5(const char* path, char digestText[33]) {
    // Only a regular file is opened for reading: opening a device or FIFO may block or act on
    // it. The check and the read go through one descriptor, so a name swapped in between can't
    // slip a device in.
    struct stat st = {};
    int pathFd = OpenPathAt(AT_FDCWD, path, st);
    if (pathFd < 0) return false;
    if (!S_ISREG(st.st_mode)) {
        close(pathFd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    int fd = ReopenForReading(pathFd);
    int err = errno;
    close(pathFd);
    if (fd < 0) {
        errno = err;
        return false;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    bool ok = ComputeFdMd5(fd, digestText);
    err = errno;
    close(fd);
    errno = err;
    return ok;
}

}  // namespace tovarek
