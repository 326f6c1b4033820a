#include "scan/file_fingerprint.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "scan/md5.h"
#include "tests/scan/md5_text.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using test::Md5OfBytes;

std::string Md5OfFile(const std::string& path) {
    char text[33] = "untouched";
    if (!ComputeFileMd5(path.c_str(), text)) return "(failed)";
    return text;
}

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, digest] : vectors) EXPECT_EQ(Md5OfBytes(input), digest) << input;
}

TEST(Md5, FinalWipesTheContextAndFeedingInPiecesChangesNothing) {
    std::string data(1000, 'q');
    Md5Context ctx;
    Md5Init(ctx);
    // Odd piece sizes cross the 64-byte block border at every offset.
    for (size_t i = 0, step = 1; i < data.size(); i += step, step = step % 97 + 1) {
        size_t n = std::min(step, data.size() - i);
        Md5Update(ctx, reinterpret_cast<const unsigned char*>(data.data() + i), n);
    }
    unsigned char digest[16];
    Md5Final(ctx, digest);
    char text[33];
    for (int i = 0; i < 16; ++i) snprintf(text + 2 * i, 3, "%02x", digest[i]);
    EXPECT_EQ(text, Md5OfBytes(data));
    Md5Context zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(memcmp(&ctx, &zero, sizeof ctx), 0);
}

// Files around the padding switch (56) and the read-buffer border (10,240) against md5sum.
TEST(Fingerprint, AgreesWithMd5sumAcrossBorders) {
    test::TempDir dir;
    std::mt19937 rng(1234);
    const size_t sizes[] = {0, 1, 55, 56, 63, 64, 65, 10239, 10240, 10241, 20480, 1000003};
    std::string args;
    for (size_t size : sizes) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        std::string path = dir.File("f" + std::to_string(size));
        test::WriteFile(path, bytes);
        EXPECT_EQ(Md5OfFile(path), Md5OfBytes(bytes)) << size;
        args += " " + path;
    }
    FILE* md5sum = popen(("md5sum" + args).c_str(), "r");
    ASSERT_NE(md5sum, nullptr);
    char line[4096];
    size_t checked = 0;
    while (fgets(line, sizeof line, md5sum)) {
        std::string l(line);
        std::string path = l.substr(34, l.size() - 35);
        EXPECT_EQ(Md5OfFile(path), l.substr(0, 32)) << path;
        ++checked;
    }
    pclose(md5sum);
    EXPECT_EQ(checked, std::size(sizes));
}

TEST(Fingerprint, FailuresLeaveTheBufferAsItWas) {
    test::TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.File("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    test::WriteFile(dir.File("secret"), "x");
    chmod(dir.File("secret").c_str(), 0);

    // A FIFO without a writer, a socket, a device and a folder must all fail at once, never block.
    const std::string paths[] = {dir.File("missing"), dir.File("fifo"), dir.File("sock"),
                                 "/dev/zero", dir.path()};
    for (const std::string& path : paths) {
        char text[33] = "prefilled";
        EXPECT_FALSE(ComputeFileMd5(path.c_str(), text)) << path;
        EXPECT_STREQ(text, "prefilled") << path;
    }
    close(sock);
    if (geteuid() != 0) {
        EXPECT_EQ(Md5OfFile(dir.File("secret")), "(failed)");
    }
}

TEST(Fingerprint, ReadErrorIsAFailureNotTheEndOfTheFile) {
    // Opens (for root) and reports size 0, then every read fails: no digest of "nothing". Any
    // other user fails at the open already, which proves nothing about reads.
    if (geteuid() != 0) GTEST_SKIP() << "only root can open the file whose reads fail";
    char text[33] = "prefilled";
    EXPECT_FALSE(ComputeFileMd5("/proc/self/clear_refs", text));
    EXPECT_STREQ(text, "prefilled");
}

TEST(Fingerprint, AFileBeingAppendedCannotHoldTheReader) {
    // The writer grows the file by 1 MiB every millisecond, faster than MD5 reads; a reader that
    // went on to the end of the file would only return when the writer stops at 8 GiB.
    test::TempDir dir;
    const std::string path = dir.File("growing.log");
    test::WriteFile(path, std::string(64 * 1024, 'a'));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        int w = open(path.c_str(), O_WRONLY);
        for (off_t size = 1 << 20; !stop.load() && size <= (8ll << 30); size += 1 << 20) {
            if (ftruncate(w, size) != 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(w);
    });
    struct stat st = {};
    while (stat(path.c_str(), &st) == 0 && st.st_size < (1 << 20)) std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    char text[33] = {};
    EXPECT_TRUE(ComputeFileMd5(path.c_str(), text));
    const auto took = std::chrono::steady_clock::now() - start;
    stop = true;
    writer.join();
    EXPECT_LT(took, std::chrono::seconds(3)) << "the read followed the writer";
}

TEST(Fingerprint, BitCountCarriesPastTwoToTheThirtyTwoBits) {
    // 512 MiB is 2^32 bits: the low word of the count wraps to 0 and the high word must take it.
    test::TempDir dir;
    const std::string path = dir.File("sparse");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 512ll * 1024 * 1024), 0);
    close(fd);
    FILE* md5sum = popen(("md5sum '" + path + "' 2>/dev/null").c_str(), "r");
    ASSERT_TRUE(md5sum);
    char line[256] = {};
    bool got = fgets(line, sizeof line, md5sum) != nullptr;
    pclose(md5sum);
    if (!got || strlen(line) < 32) GTEST_SKIP() << "md5sum is not available to compare with";
    EXPECT_EQ(Md5OfFile(path), std::string(line, 32));
}

TEST(Fingerprint, FileOpenForWritingByAnotherHolderIsStillRead) {
    test::TempDir dir;
    std::string path = dir.File("busy");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "abc", 3), 3);
    EXPECT_EQ(Md5OfFile(path), "900150983cd24fb0d6963f7d28e17f72");
    close(fd);
}

}  // namespace
}  // namespace tovarek
