#include "scan/sha256.h"

#include <openssl/evp.h>

namespace tovarek {

Sha256::Sha256() : m_pCtx(EVP_MD_CTX_new()) {
    if (m_pCtx) EVP_DigestInit_ex(m_pCtx, EVP_sha256(), nullptr);
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(m_pCtx);
}

void Sha256::Update(const void* data, size_t length) {
    if (m_pCtx && length > 0) EVP_DigestUpdate(m_pCtx, data, length);
}

std::string Sha256::FinalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // No context (out of memory) or a failed final step: an empty text matches no stored digest.
    if (!m_pCtx || EVP_DigestFinal_ex(m_pCtx, digest, &length) != 1) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 15]);
    }
    return text;
}

}  // namespace tovarek
