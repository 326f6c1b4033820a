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

constexpr const char* kSocketPath = "/run/systemd/journal/socket";

// The journal's end of the native protocol: a datagram socket at its path, inside the child's
// private /run. Returns the descriptor, or -1.
int OwnJournalSocket() {
    if (mkdir("/run/systemd", 0755) != 0 || mkdir("/run/systemd/journal", 0755) != 0) return -1;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, kSocketPath);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
    timeval wait{0, 300 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return fd;
}

// Fields of one datagram: "NAME=value\n", or "NAME\n" + 64-bit little-endian size + value + "\n"
// for a value that holds a line break.
std::multimap<std::string, std::string> ParseFields(const std::string& d) {
    std::multimap<std::string, std::string> fields;
    size_t at = 0;
    while (at < d.size()) {
        size_t end = d.find('\n', at);
        if (end == std::string::npos) break;
        std::string line = d.substr(at, end - at);
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            fields.emplace(line.substr(0, eq), line.substr(eq + 1));
            at = end + 1;
            continue;
        }
        uint64_t size = 0;
        if (end + 9 > d.size()) break;
        for (int i = 7; i >= 0; --i) size = size << 8 | static_cast<unsigned char>(d[end + 1 + i]);
        fields.emplace(line, d.substr(end + 9, size));
        at = end + 9 + size + 1;
    }
    return fields;
}

TEST(Journal, RecordsArriveWithTheirFieldsAndNothingBreaksWithoutAJournal) {
    std::string output, why;
    const int rc = test::RunWithPrivateRun(
        [](int out) {
            unsetenv("TOVAREK_JOURNAL");
            // No journal in this /run: the record is dropped, nothing else happens.
            SendJournalRecord(JournalRecord{});
            int fd = OwnJournalSocket();
            if (fd < 0) return 2;
            JournalRecord record;
            record.event = JournalEvent::kIntercepted;
            record.path = std::string("/tmp/a\nb\xff.exe");  // a line break and a stray byte
            record.md5 = "44d88612fea8a8f36de82e1278abb02f";
            record.pid = 4242;
            record.message = "[2026-12-07 10:00:00]/tmp/a?b.exe";
            if (!SendJournalRecord(record)) return 3;
            record = {};
            record.event = JournalEvent::kListUpdated;
            record.message = "列表更新日期：2026-12-07 10:00:00";
            if (!SendJournalRecord(record)) return 4;
            // Switched off by the variable: nothing reaches the socket.
            setenv("TOVAREK_JOURNAL", "0", 1);
            record.event = JournalEvent::kListFailed;
            if (SendJournalRecord(record)) return 5;
            for (int i = 0; i < 3; ++i) {
                char buf[65536];
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                uint32_t size = static_cast<uint32_t>(n);
                if (write(out, &size, sizeof size) != sizeof size || write(out, buf, size) != n)
                    return 6;
            }
            return 0;
        },
        output, why);
    if (rc < 0) GTEST_SKIP() << why;
    ASSERT_EQ(rc, 0);
    std::vector<std::multimap<std::string, std::string>> got;
    for (size_t at = 0; at + 4 <= output.size();) {
        uint32_t size;
        memcpy(&size, output.data() + at, 4);
        got.push_back(ParseFields(output.substr(at + 4, size)));
        at += 4 + size;
    }
    ASSERT_EQ(got.size(), 2u) << "the switched-off record must not arrive";

    auto one = [](const std::multimap<std::string, std::string>& f, const char* name) {
        EXPECT_EQ(f.count(name), 1u) << name;
        auto it = f.find(name);
        return it == f.end() ? std::string("<none>") : it->second;
    };
    EXPECT_EQ(one(got[0], "TOVAREK_EVENT"), "intercepted");
    EXPECT_EQ(one(got[0], "TOVAREK_PATH"), std::string("/tmp/a\nb\xff.exe"));
    EXPECT_EQ(one(got[0], "TOVAREK_MD5"), "44d88612fea8a8f36de82e1278abb02f");
    EXPECT_EQ(one(got[0], "TOVAREK_PID"), "4242");
    EXPECT_EQ(one(got[0], "PRIORITY"), "4");
    EXPECT_EQ(one(got[0], "MESSAGE"), "[2026-12-07 10:00:00]/tmp/a?b.exe");

    EXPECT_EQ(one(got[1], "TOVAREK_EVENT"), "list-updated");
    EXPECT_EQ(one(got[1], "PRIORITY"), "6");
    EXPECT_EQ(one(got[1], "MESSAGE"), "列表更新日期：2026-12-07 10:00:00");
    // Fields without a value are left out rather than sent empty.
    EXPECT_EQ(
        got[1].count("TOVAREK_PATH") + got[1].count("TOVAREK_MD5") + got[1].count("TOVAREK_PID"),
        0u);
}

}  // namespace
}  // namespace tovarek
