#include "platform/journal.h"

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>

#include <gtest/gtest.h>

#include "tests/support/private_run.h"

namespace tovarek {
namespace {

// Fields of one datagram of the journal's native protocol: "NAME=value\n", or "NAME\n", a 64-bit
// little-endian size, the value and "\n" for a value holding a line break.
std::map<std::string, std::string> ParseFields(const std::string& d) {
    std::map<std::string, std::string> fields;
    for (size_t at = 0, end; (end = d.find('\n', at)) != std::string::npos;) {
        const std::string line = d.substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            fields[line.substr(0, eq)] = line.substr(eq + 1);
            at = end + 1;
            continue;
        }
        uint64_t size = 0;
        memcpy(&size, d.data() + end + 1, 8);
        fields[line] = d.substr(end + 9, size);
        at = end + 9 + size + 1;
    }
    return fields;
}

// The journal is a datagram socket at its path, owned by the test in a private /run.
TEST(Journal, RecordsArriveWithTheirFieldsUnlessSwitchedOff) {
    std::string output, why;
    const int rc = test::RunWithPrivateRun(
        [](int out) {
            unsetenv("TOVAREK_JOURNAL");
            SendJournalRecord(JournalRecord{});  // no journal yet: dropped, nothing breaks
            mkdir("/run/systemd", 0755);
            mkdir("/run/systemd/journal", 0755);
            int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
            sockaddr_un addr{AF_UNIX, "/run/systemd/journal/socket"};
            if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
            timeval wait{0, 300 * 1000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            JournalRecord record{JournalEvent::kIntercepted, "/tmp/a\nb\xff.exe",
                                 "44d88612fea8a8f36de82e1278abb02f", 4242, "[t]/tmp/a?b.exe"};
            if (!SendJournalRecord(record)) return 2;
            if (!SendJournalRecord({JournalEvent::kListUpdated, "", "", 0, "列表更新日期：x"}))
                return 3;
            setenv("TOVAREK_JOURNAL", "0", 1);
            if (SendJournalRecord(record)) return 4;
            char buf[65536];
            for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) {
                const uint32_t size = static_cast<uint32_t>(n);
                if (write(out, &size, 4) != 4 || write(out, buf, size) != n) return 5;
            }
            return 0;
        },
        output, why);
    if (rc < 0) GTEST_SKIP() << why;
    ASSERT_EQ(rc, 0);
    std::vector<std::map<std::string, std::string>> got;
    for (size_t at = 0; at + 4 <= output.size();) {
        uint32_t size;
        memcpy(&size, output.data() + at, 4);
        got.push_back(ParseFields(output.substr(at + 4, size)));
        at += 4 + size;
    }
    ASSERT_EQ(got.size(), 2u) << "the switched-off record must not arrive";
    EXPECT_EQ(got[0]["TOVAREK_EVENT"], "intercepted");
    EXPECT_EQ(got[0]["TOVAREK_PATH"], std::string("/tmp/a\nb\xff.exe"));
    EXPECT_EQ(got[0]["TOVAREK_MD5"], "44d88612fea8a8f36de82e1278abb02f");
    EXPECT_EQ(got[0]["TOVAREK_PID"], "4242");
    EXPECT_EQ(got[0]["PRIORITY"], "4");
    EXPECT_EQ(got[0]["MESSAGE"], "[t]/tmp/a?b.exe");
    EXPECT_EQ(got[1]["TOVAREK_EVENT"], "list-updated");
    EXPECT_EQ(got[1]["PRIORITY"], "6");
    EXPECT_EQ(got[1]["MESSAGE"], "列表更新日期：x");
    // Fields without a value are left out rather than sent empty.
    EXPECT_EQ(
        got[1].count("TOVAREK_PATH") + got[1].count("TOVAREK_MD5") + got[1].count("TOVAREK_PID"),
        0u);
}

}  // namespace
}  // namespace tovarek
