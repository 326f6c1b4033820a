// MD5 as published in RFC 1321. A context lives on its user's stack; no state is shared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovarek {

struct Md5Context {
    uint32_t state[4];         // A, B, C, D
    uint32_t count[2];         // bits fed so far, low word first
    unsigned char buffer[64];  // bytes that do not yet fill a block
};

void Md5Init(Md5Context& ctx);
void Md5Update(Md5Context& ctx, const unsigned char* input, size_t length);
// Pads, writes the 16-byte digest (A..D little-endian) and wipes the context.
void Md5Final(Md5Context& ctx, unsigned char digest[16]);
void Md5Transform(uint32_t state[4], const unsigned char block[64]);

}  // namespace tovarek
