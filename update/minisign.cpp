#include "update/minisign.h"

#include <openssl/evp.h>

#include <memory>

namespace tovarek {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Splits off the next line; a CR before the LF belongs to the line end.
std::string_view NextLine(std::string_view& text) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

using PKeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

bool Ed25519Verify(const std::array<uint8_t, 32>& publicKey, const uint8_t* signature,
                   const void* message, size_t length) {
    PKeyPtr key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()),
        &EVP_PKEY_free);
    MdCtxPtr ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !ctx) return false;
    // Ed25519 hashes internally: no digest is named, and the message goes in one call.
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature, 64, static_cast<const unsigned char*>(message),
                            length) == 1;
}

}  // namespace

bool DecodeBase64(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0) return false;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            // '=' only in the last one or two places; a character after one is refused below.
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++pad;
                continue;
            }
            if (pad > 0 || (v[k] = Base64Value(c)) < 0) return false;
        }
        const uint32_t bits = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out.push_back(static_cast<char>(bits >> 16));
        if (pad < 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (pad < 1) out.push_back(static_cast<char>(bits & 0xFF));
    }
    return true;
}

bool ParseMinisignPublicKey(std::string_view line, MinisignPublicKey& out) {
    std::string raw;
    if (!DecodeBase64(TrimBlanks(line), raw) || raw.size() != 42 || raw.compare(0, 2, "Ed") != 0) {
        return false;
    }
    std::copy(raw.begin() + 2, raw.begin() + 10, out.keyId.begin());
    std::copy(raw.begin() + 10, raw.end(), out.key.begin());
    return true;
}

bool ParseMinisignSignature(std::string_view text, MinisignSignature& out) {
    std::string_view untrusted = NextLine(text);
    std::string_view signatureLine = NextLine(text);
    std::string_view trusted = NextLine(text);
    std::string_view globalLine = NextLine(text);
    if (!text.empty()) return false;  // more than four lines
    if (untrusted.substr(0, kUntrustedPrefix.size()) != kUntrustedPrefix) return false;
    if (trusted.substr(0, kTrustedPrefix.size()) != kTrustedPrefix) return false;
    std::string raw;
    if (!DecodeBase64(signatureLine, raw) || raw.size() != 74) return false;
    if (raw.compare(0, 2, "ED") == 0) {
        out.prehashed = true;
    } else if (raw.compare(0, 2, "Ed") == 0) {
        out.prehashed = false;
    } else {
        return false;
    }
    std::copy(raw.begin() + 2, raw.begin() + 10, out.keyId.begin());
    std::copy(raw.begin() + 10, raw.end(), out.signature.begin());
    out.trustedComment.assign(trusted.substr(kTrustedPrefix.size()));
    if (!DecodeBase64(globalLine, raw) || raw.size() != 64) return false;
    std::copy(raw.begin(), raw.end(), out.globalSignature.begin());
    return true;
}

bool VerifyMessageSignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                            std::string_view message) {
    if (!signature.prehashed) {
        return Ed25519Verify(key.key, signature.signature.data(), message.data(), message.size());
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(message.data(), message.size(), digest, &digestLength, EVP_blake2b512(),
                   nullptr) != 1 ||
        digestLength != 64) {
        return false;
    }
    return Ed25519Verify(key.key, signature.signature.data(), digest, digestLength);
}

bool VerifyTrustedComment(const MinisignPublicKey& key, const MinisignSignature& signature) {
    std::string signed_;
    signed_.reserve(64 + signature.trustedComment.size());
    signed_.append(reinterpret_cast<const char*>(signature.signature.data()), 64);
    signed_.append(signature.trustedComment);
    return Ed25519Verify(key.key, signature.globalSignature.data(), signed_.data(), signed_.size());
}

}  // namespace tovarek
