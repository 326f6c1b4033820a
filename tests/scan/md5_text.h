// The one-stream MD5 of a byte string as 32 lower-case hex digits: the reference the scan suites
// compare fingerprints with.
#pragma once

#include <cstdio>
#include <string>

#include "scan/md5.h"

namespace tovarek::test {

inline std::string Md5OfBytes(const std::string& bytes) {
    Md5Context ctx;
    Md5Init(ctx);
    Md5Update(ctx, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned char digest[16];
    Md5Final(ctx, digest);
    char text[33];
    for (int i = 0; i < 16; ++i) snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

}  // namespace tovarek::test
