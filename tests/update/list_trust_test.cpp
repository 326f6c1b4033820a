// The signature matrix of the daily list, signed by the real minisign tool: what is taken and
// why everything else is refused.
#include "update/list_trust.h"

#include <gtest/gtest.h>

#include "tests/support/list_signing.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

const std::string kList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list><File><save>a.exe</save>"
    "<md5>44d88612fea8a8f36de82e1278abb02f</md5><size>68</size></File></list>\n";

// 2030-01-01T00:00:00Z
constexpr int64_t kExpiry = 1893456000;
const std::string kComment = "tovarek-list serial=100 expires=2030-01-01T00:00:00Z";

MinisignPublicKey Key(const std::string& line) {
    MinisignPublicKey key;
    EXPECT_TRUE(ParseMinisignPublicKey(line, key)) << line;
    return key;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(ListTrust, SignatureMatrix) {
    test::TempDir dir;
    std::string otherSecret;
    std::string otherPublic;
    ASSERT_TRUE(test::MakeListKeyPair(dir.path(), otherSecret, otherPublic));
    const std::vector<MinisignPublicKey> buildOnly{Key(test::BuildListPublicKey())};
    const std::vector<MinisignPublicKey> rolledOver{Key(otherPublic),
                                                    Key(test::BuildListPublicKey())};

    const std::string good = test::SignListBytes(kList, kComment);
    const std::string legacy =
        test::SignListBytes(kList, kComment, test::BuildListSecretKey(), true);
    const std::string byOther = test::SignListBytes(kList, kComment, otherSecret);
    const std::string noSerial =
        test::SignListBytes(kList, "tovarek-list expires=2030-01-01T00:00:00Z");
    const std::string badStamp =
        test::SignListBytes(kList, "tovarek-list serial=1 expires=2030-02-30T00:00:00Z");
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(legacy.empty());
    ASSERT_NE(good, legacy);

    struct Case {
        const char* name;
        std::string list;
        std::optional<std::string> signature;
        const std::vector<MinisignPublicKey>* keys;
        std::optional<uint64_t> lastSerial;
        int64_t now;
        ListRefusal expected;
    } cases[] = {
        {"prehashed", kList, good, &buildOnly, std::nullopt, kExpiry - 1, ListRefusal::kNone},
        {"legacy", kList, legacy, &buildOnly, std::nullopt, kExpiry - 1, ListRefusal::kNone},
        {"same serial again", kList, good, &buildOnly, 100, kExpiry - 1, ListRefusal::kNone},
        {"a second trusted key", kList, byOther, &rolledOver, 99, 0, ListRefusal::kNone},
        {"changed list", kList + " ", good, &buildOnly, std::nullopt, 0,
         ListRefusal::kSignatureInvalid},
        {"changed list, legacy", Replace(kList, "a.exe", "b.exe"), legacy, &buildOnly, std::nullopt,
         0, ListRefusal::kSignatureInvalid},
        {"changed comment", kList, Replace(good, "serial=100", "serial=900"), &buildOnly,
         std::nullopt, 0, ListRefusal::kCommentInvalid},
        {"unknown key", kList, byOther, &buildOnly, std::nullopt, 0, ListRefusal::kKeyNotTrusted},
        {"lower serial", kList, good, &buildOnly, 101, 0, ListRefusal::kSerialLower},
        {"expired", kList, good, &buildOnly, std::nullopt, kExpiry, ListRefusal::kExpired},
        {"missing", kList, std::nullopt, &buildOnly, std::nullopt, 0,
         ListRefusal::kSignatureMissing},
        {"oversized", kList, good + std::string(kMaxSignatureBytes, '\n'), &buildOnly, std::nullopt,
         0, ListRefusal::kSignatureTooLarge},
        {"cut short", kList, good.substr(0, good.size() / 2), &buildOnly, std::nullopt, 0,
         ListRefusal::kSignatureMalformed},
        {"a fifth line", kList, good + "x\n", &buildOnly, std::nullopt, 0,
         ListRefusal::kSignatureMalformed},
        {"unknown algorithm", kList, Replace(good, "\nRU", "\nRV"), &buildOnly, std::nullopt, 0,
         ListRefusal::kSignatureMalformed},
        {"no serial", kList, noSerial, &buildOnly, std::nullopt, 0, ListRefusal::kCommentMalformed},
        {"impossible expiry", kList, badStamp, &buildOnly, std::nullopt, 0,
         ListRefusal::kCommentMalformed},
    };
    for (const Case& c : cases) {
        ListCheck check;
        if (c.signature) check.signatureText = *c.signature;
        check.keys = c.keys;
        check.lastSerial = c.lastSerial;
        check.now = c.now;
        ListTerms terms;
        EXPECT_EQ(CheckList(c.list, check, terms), c.expected)
            << c.name << ": " << ListRefusalText(CheckList(c.list, check, terms));
        if (c.expected == ListRefusal::kNone) {
            EXPECT_EQ(terms.serial, 100u) << c.name;
            EXPECT_EQ(terms.expires, kExpiry) << c.name;
        }
    }
}

TEST(ListTrust, TermsOfTheTrustedComment) {
    struct Case {
        const char* comment;
        bool ok;
        uint64_t serial;
    } cases[] = {
        {"tovarek-list serial=18446744073709551615 expires=2026-12-09T00:00:00Z", true, UINT64_MAX},
        {"expires=2026-12-09T00:00:00Z\tserial=7 other=words", true, 7},
        {"serial=18446744073709551616 expires=2026-12-09T00:00:00Z", false, 0},
        {"serial=1 serial=2 expires=2026-12-09T00:00:00Z", false, 0},
        {"serial=-1 expires=2026-12-09T00:00:00Z", false, 0},
        {"serial=1 expires=2026-12-09 00:00:00Z", false, 0},
        {"serial=1 expires=2026-12-09T00:00:00", false, 0},
        {"serial=1", false, 0},
    };
    for (const Case& c : cases) {
        ListTerms terms;
        EXPECT_EQ(ParseListTerms(c.comment, terms), c.ok) << c.comment;
        if (c.ok) {
            EXPECT_EQ(terms.serial, c.serial) << c.comment;
            EXPECT_EQ(terms.expires, 1796774400) << c.comment;  // 2026-12-09T00:00:00Z
        }
    }
}

}  // namespace
}  // namespace tovarek
