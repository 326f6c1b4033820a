#include "update/list_trust.h"

#include <time.h>

#include <cctype>

#ifndef TOVAREK_TRUSTED_LIST_KEYS
#error "TOVAREK_TRUSTED_LIST_KEYS must be defined by the build"
#endif

namespace tovarek {
namespace {

bool ParseSerial(std::string_view digits, uint64_t& out) {
    if (digits.empty() || digits.size() > 20) return false;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// Exactly "YYYY-MM-DDTHH:MM:SSZ", a real date and time of day.
bool ParseUtcStamp(std::string_view text, int64_t& out) {
    constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kShape.size()) return false;
    for (size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
    }
    auto number = [&](size_t at, size_t length) {
        int v = 0;
        for (size_t i = at; i < at + length; ++i) v = v * 10 + (text[i] - '0');
        return v;
    };
    struct tm tm = {};
    tm.tm_year = number(0, 4) - 1900;
    tm.tm_mon = number(5, 2) - 1;
    tm.tm_mday = number(8, 2);
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = number(17, 2);
    const struct tm asGiven = tm;
    const time_t t = timegm(&tm);
    // timegm moves an impossible date (February 30, hour 25) on; such a stamp is no stamp.
    if (tm.tm_year != asGiven.tm_year || tm.tm_mon != asGiven.tm_mon ||
        tm.tm_mday != asGiven.tm_mday || tm.tm_hour != asGiven.tm_hour ||
        tm.tm_min != asGiven.tm_min || tm.tm_sec != asGiven.tm_sec) {
        return false;
    }
    out = static_cast<int64_t>(t);
    return true;
}

std::vector<MinisignPublicKey> ParseKeyList(std::string_view list) {
    std::vector<MinisignPublicKey> keys;
    while (!list.empty()) {
        size_t end = list.find(';');
        MinisignPublicKey key;
        if (ParseMinisignPublicKey(list.substr(0, end), key)) keys.push_back(key);
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    }
    return keys;
}

}  // namespace

const char* ListRefusalText(ListRefusal refusal) {
    switch (refusal) {
        case ListRefusal::kNone:
            return "accepted";
        case ListRefusal::kSignatureMissing:
            return "no signature";
        case ListRefusal::kSignatureTooLarge:
            return "the signature is too large";
        case ListRefusal::kSignatureMalformed:
            return "the signature is malformed";
        case ListRefusal::kKeyNotTrusted:
            return "signed by a key that is not trusted";
        case ListRefusal::kSignatureInvalid:
            return "the signature does not match the list";
        case ListRefusal::kCommentInvalid:
            return "the signature does not match its trusted comment";
        case ListRefusal::kCommentMalformed:
            return "the trusted comment lacks a serial or an expiry";
        case ListRefusal::kSerialLower:
            return "its serial is lower than the last one taken";
        case ListRefusal::kExpired:
            return "it has expired";
    }
    return "refused";
}

const std::vector<MinisignPublicKey>& TrustedListKeys() {
    static const std::vector<MinisignPublicKey> keys = ParseKeyList(TOVAREK_TRUSTED_LIST_KEYS);
    return keys;
}

bool ParseListTerms(std::string_view comment, ListTerms& out) {
    int serials = 0;
    int expiries = 0;
    bool wellFormed = true;
    while (!comment.empty()) {
        size_t end = comment.find_first_of(" \t");
        std::string_view word = comment.substr(0, end);
        comment.remove_prefix(end == std::string_view::npos ? comment.size() : end + 1);
        if (word.starts_with("serial=")) {
            ++serials;
            wellFormed = wellFormed && ParseSerial(word.substr(7), out.serial);
        } else if (word.starts_with("expires=")) {
            ++expiries;
            wellFormed = wellFormed && ParseUtcStamp(word.substr(8), out.expires);
        }
    }
    return wellFormed && serials == 1 && expiries == 1;
}

ListRefusal CheckList(std::string_view list, const ListCheck& check, ListTerms& terms) {
    if (!check.signatureText) return ListRefusal::kSignatureMissing;
    if (check.signatureText->size() > kMaxSignatureBytes) return ListRefusal::kSignatureTooLarge;
    MinisignSignature signature;
    if (!ParseMinisignSignature(*check.signatureText, signature)) {
        return ListRefusal::kSignatureMalformed;
    }
    const std::vector<MinisignPublicKey>& keys = check.keys ? *check.keys : TrustedListKeys();
    const MinisignPublicKey* key = nullptr;
    for (const MinisignPublicKey& k : keys) {
        if (k.keyId == signature.keyId) {
            key = &k;
            break;
        }
    }
    if (!key) return ListRefusal::kKeyNotTrusted;
    if (!VerifyMessageSignature(*key, signature, list)) return ListRefusal::kSignatureInvalid;
    if (!VerifyTrustedComment(*key, signature)) return ListRefusal::kCommentInvalid;
    ListTerms parsed;
    if (!ParseListTerms(signature.trustedComment, parsed)) return ListRefusal::kCommentMalformed;
    if (check.lastSerial && parsed.serial < *check.lastSerial) return ListRefusal::kSerialLower;
    if (check.now >= parsed.expires) return ListRefusal::kExpired;
    terms = parsed;
    return ListRefusal::kNone;
}

}  // namespace tovarek
