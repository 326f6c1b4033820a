// Minisign public keys and signatures (Ed25519), read and checked here with OpenSSL: a key is the
// base64 of "Ed" + key id (8 bytes) + public key (32 bytes); a signature file has four lines, an
// untrusted comment, base64 of algorithm ("ED" prehashed with BLAKE2b-512, or the legacy "Ed") +
// key id + signature (64 bytes), "trusted comment: " + text, and base64 of the global signature
// over signature + trusted comment. Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovarek {

struct MinisignPublicKey {
    std::array<uint8_t, 8> keyId{};
    std::array<uint8_t, 32> key{};
};

struct MinisignSignature {
    bool prehashed = false;  // "ED": the signature covers BLAKE2b-512 of the file
    std::array<uint8_t, 8> keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;  // the text after "trusted comment: "
    std::array<uint8_t, 64> globalSignature{};
};

// Strict base64 (padding required, no blanks). False on any other character or length.
bool DecodeBase64(std::string_view text, std::string& out);

// The base64 line of a .pub file (surrounding blanks ignored). False when it is not an Ed25519
// minisign key.
bool ParseMinisignPublicKey(std::string_view line, MinisignPublicKey& out);

// A .minisig text: four lines (LF or CR LF; a final line end is optional). False when anything is
// out of shape.
bool ParseMinisignSignature(std::string_view text, MinisignSignature& out);

// Whether `signature` was made by `key` over `message` (prehashed or legacy, as the signature
// says). Does not look at the trusted comment.
bool VerifyMessageSignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                            std::string_view message);

// Whether the global signature binds the trusted comment to the signature under `key`.
bool VerifyTrustedComment(const MinisignPublicKey& key, const MinisignSignature& signature);

}  // namespace tovarek
