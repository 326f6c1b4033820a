#include "scan/file_fingerprint.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

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
    Md5Context ctx;
    Md5Init(ctx);
    unsigned char buffer[kReadBufferBytes];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        Md5Update(ctx, buffer, static_cast<size_t>(n));
    }
    unsigned char digest[16];
    Md5Final(ctx, digest);
    char text[33];
    DigestToText(digest, text);
    memcpy(digestText, text, sizeof text);
    return true;
}

bool ComputeFileMd5(const char* path, char digestText[33]) {
    // O_NONBLOCK keeps the open itself from waiting on a FIFO with no writer.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = err;
        return false;
    }
    // Regular files never block; clear the flag anyway so reads behave plainly.
    fcntl(fd, F_SETFL, 0);
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    bool ok = ComputeFdMd5(fd, digestText);
    close(fd);
    return ok;
}

}  // namespace tovarek
