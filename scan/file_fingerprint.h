// The fingerprint of a file: the MD5 of its whole content as 32 lower-case hex digits.
// Keeps no state between calls; safe on any number of threads at once.
#pragma once

#include <functional>

namespace tovarek {

// Reads `path` in one pass through a 10,240-byte stack buffer (no heap). On success writes the
// 32 digits and a NUL into `digestText` and returns true. Returns false, leaving `digestText`
// untouched, when the file can't be opened, is not a regular file (FIFOs, devices and
// directories are never even opened, so the call never blocks or acts on them), or a read fails
// part-way (a partial digest would name no file); errno then tells why. The file is read up to
// the size it had when it was opened, so a file being appended can't hold the caller.
bool ComputeFileMd5(const char* path, char digestText[33]);

// Same, over an already open descriptor (read from its current offset; not closed).
bool ComputeFdMd5(int fd, char digestText[33]);

// Same, asking `keepGoing` before the first read and then every kFingerprintCheckBytes read: it may
// block (a paused scan waits inside the file); false abandons the file (false, errno ECANCELED), so
// a stop never waits for the rest of a large file.
constexpr unsigned kFingerprintCheckBytes = 1u << 20;
bool ComputeFdMd5(int fd, char digestText[33], const std::function<bool()>& keepGoing);

}  // namespace tovarek
