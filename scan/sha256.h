// SHA-256 (FIPS 180-4) through OpenSSL's libcrypto, for the quarantine's check that a stored
// file comes back unchanged. A Sha256 lives on its user's stack; nothing is shared between
// objects, so any number of threads may each use their own.
#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

namespace tovarek {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t length);
    // The digest as 64 lower-case hex digits; the object is then spent.
    std::string FinalHex();

private:
    evp_md_ctx_st* m_pCtx;
};

}  // namespace tovarek
