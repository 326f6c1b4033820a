// Whether a daily list may be taken: its minisign signature by a trusted key, and the serial and
// expiry its trusted comment carries ("serial=<decimal>" and "expires=YYYY-MM-DDTHH:MM:SSZ" among
// words separated by blanks). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/minisign.h"

namespace tovarek {

// A signature file larger than this is refused unread: a real one is about 300 bytes.
constexpr size_t kMaxSignatureBytes = 4096;

enum class ListRefusal {
    kNone,
    kSignatureMissing,
    kSignatureTooLarge,
    kSignatureMalformed,
    kKeyNotTrusted,
    kSignatureInvalid,  // the signature over the list
    kCommentInvalid,    // the global signature over the trusted comment
    kCommentMalformed,  // no single serial and expiry in the trusted comment
    kSerialLower,
    kExpired,
};

// One line of English saying why a list was refused.
const char* ListRefusalText(ListRefusal refusal);

// The keys compiled into the program (TOVAREK_LIST_KEYS, else the build's own key); a key that
// does not parse is left out.
const std::vector<MinisignPublicKey>& TrustedListKeys();

struct ListTerms {
    uint64_t serial = 0;
    int64_t expires = 0;  // seconds since the epoch, UTC
};

// Reads serial and expiry out of a trusted comment; false unless each is there exactly once and
// well formed.
bool ParseListTerms(std::string_view trustedComment, ListTerms& out);

struct ListCheck {
    // The signature file as received; no value when there was none.
    std::optional<std::string_view> signatureText;
    const std::vector<MinisignPublicKey>* keys = nullptr;  // null: TrustedListKeys()
    std::optional<uint64_t> lastSerial;                    // the last serial taken, if any
    int64_t now = 0;                                       // seconds since the epoch
};

// Checks `list` (the bytes exactly as published) in this order: signature there, not too large,
// well formed, key trusted, signature over the list, global signature, terms, serial not below
// the last one, not expired (expired at the second it names). `terms` is filled when the answer
// is kNone.
ListRefusal CheckList(std::string_view list, const ListCheck& check, ListTerms& terms);

}  // namespace tovarek
