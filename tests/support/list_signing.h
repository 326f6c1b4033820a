// Signing daily lists for tests with the real minisign tool and the build's own key pair (made at
// configure time in the build folder), or with a key pair a test makes for itself.
#pragma once

#include <cstdint>
#include <string>

namespace tovarek::test {

// The build's secret key file and the base64 line of its public key.
std::string BuildListSecretKey();
std::string BuildListPublicKey();
// False when the build trusts other keys (TOVAREK_LIST_KEYS): programs built here then refuse
// what tests sign.
bool BuildKeyTrusted();

// "tovarek-list serial=<serial> expires=<UTC stamp>", expiring `expiresIn` seconds from now
// (negative: already expired).
std::string ListComment(uint64_t serial, int64_t expiresIn = 2 * 86400);

// Signs the file at `path` into path + ".minisig" with the trusted comment `comment`; `legacy`
// makes the older "Ed" form instead of the prehashed one. True when minisign succeeded.
bool SignListFile(const std::string& path, const std::string& comment,
                  const std::string& secretKey = BuildListSecretKey(), bool legacy = false);

// The .minisig text for `bytes` (signed through a file of its own); empty when signing failed.
std::string SignListBytes(const std::string& bytes, const std::string& comment,
                          const std::string& secretKey = BuildListSecretKey(), bool legacy = false);

// A new key pair in `dir`: the secret key's path and the public key's base64 line.
bool MakeListKeyPair(const std::string& dir, std::string& secretKey, std::string& publicKey);

}  // namespace tovarek::test
