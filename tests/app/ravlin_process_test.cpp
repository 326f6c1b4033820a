// The real ravlin binary as a process: no display, a second copy refused while the first runs,
// SIGTERM ending a copy (also in the middle of a list transfer) within a second with status 0 and
// the lock freed, and the lock of a SIGKILLed copy taken over by the next start.
//
// Copies run on an Xvfb screen inside a PID and network namespace of this test's own (the test
// re-runs itself there), each from a folder of its own with its own Ravlin.db and lock, so the
// protection pass they start sees only this namespace and the list update reaches no real server.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/init_instance.h"
#include "platform/single_instance.h"
#include "tests/cli/run_command.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kInsideEnv = "TOVAREK_RAVLIN_PROCESS_INSIDE";

bool Inside() {
    return getenv(kInsideEnv) != nullptr;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// One copy of the program started by this test, its standard error on a pipe.
struct Copy {
    pid_t pid = -1;
    int errFd = -1;
    std::string err;
    int status = -1;  // exit status once it ended, -2 when a signal ended it

    bool Start(const std::string& exe, const std::string& dir) {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) return false;
        pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0 || dup2(p[1], 2) < 0) _exit(127);
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(p[1]);
        errFd = p[0];
        fcntl(errFd, F_SETFL, O_NONBLOCK);
        return pid > 0;
    }
    const std::string& Err() {
        char buf[4096];
        ssize_t n;
        while (errFd >= 0 && (n = read(errFd, buf, sizeof buf)) > 0) err.append(buf, size_t(n));
        return err;
    }
    bool Running() {
        if (status != -1) return false;
        int st = 0;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == 0) return true;
        status = WIFEXITED(st) ? WEXITSTATUS(st) : -2;
        return false;
    }
    bool WaitExit(std::chrono::milliseconds limit) {
        return WaitFor([this] { return !Running(); }, limit);
    }
    ~Copy() {
        if (pid > 0 && Running()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (errFd >= 0) close(errFd);
    }
};

// SIGTERM ends a running copy within a second with status 0; prints how long it took.
void ExpectSigtermEndsWithinASecond(Copy& copy, const char* when) {
    const auto t0 = Clock::now();
    kill(copy.pid, SIGTERM);
    ASSERT_TRUE(copy.WaitExit(5s)) << when;
    const auto took = Clock::now() - t0;
    EXPECT_EQ(copy.status, 0) << when << ": " << copy.Err();
    EXPECT_LT(took, 1s) << when;
    std::printf("SIGTERM to exit %s: %lld ms\n", when,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

// Whether /proc/locks shows an flock of `pid` on the lock file.
bool LockHeldBy(pid_t pid) {
    struct stat st;
    if (stat(SingleInstance::LockPath().c_str(), &st) != 0) return false;
    std::ifstream locks("/proc/locks");
    std::string line;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": kind, holder and maj:min:inode.
    while (std::getline(locks, line)) {
        std::istringstream row(line);
        std::string number, kind, mode, access, device;
        long holder = 0;
        if (!(row >> number >> kind >> mode >> access >> holder >> device) || kind != "FLOCK")
            continue;
        const size_t colon = device.rfind(':');
        if (holder == pid && colon != std::string::npos &&
            std::stoul(device.substr(colon + 1)) == st.st_ino)
            return true;
    }
    return false;
}

// A folder with the program, an installed Ravlin.db and the lock, private to this user.
class RunFolder {
public:
    RunFolder() {
        chmod(m_dir.path().c_str(), 0700);  // Qt wants a private runtime folder
        setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1);
        std::filesystem::copy_file(RAVLIN_DB, m_dir.File("Ravlin.db"));
        m_strExe = test::CopyProgramInto(RAVLIN_EXE, m_dir.path());
    }
    const std::string& exe() const { return m_strExe; }
    const std::string& path() const { return m_dir.path(); }

private:
    test::TempDir m_dir;
    std::string m_strExe;
};

TEST(RavlinProcess, WithoutADisplayItSaysSoInOneLine) {
    // A platform that needs a display server counts as no display too.
    for (const char* platform : {"-u QT_QPA_PLATFORM", "QT_QPA_PLATFORM=xcb"}) {
        SCOPED_TRACE(platform);
        test::TempDir dir;
        const std::string cmd = "cd '" + dir.path() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " +
                                platform + " '" + std::string(RAVLIN_EXE) + "' 2>&1";
        test::CommandResult r = test::RunCommand(cmd);
        EXPECT_EQ(r.exitCode, kExitCannotStart);
        EXPECT_EQ(r.out, kNoDisplayLine);
        EXPECT_NE(r.out.find("ravlin-cli"), std::string::npos);
        EXPECT_NE(r.out.find("xvfb-run"), std::string::npos);
        EXPECT_FALSE(test::FileExists(dir.File("Ravlin.db")));  // nothing was started
    }
}

TEST(RavlinProcess, RefusalsOfTheLock) {
    EXPECT_TRUE(RefusalFor(InstanceLock::kAcquired).text.isEmpty());
    EXPECT_EQ(RefusalFor(InstanceLock::kHeldByRunningCopy).text,
              QString::fromUtf8("该程序正在运行！"));
    EXPECT_EQ(RefusalFor(InstanceLock::kHeldByRunningCopy).status, 1);
    EXPECT_EQ(RefusalFor(InstanceLock::kCreateError).text, "Create mutex error.");
    EXPECT_EQ(RefusalFor(InstanceLock::kCreateError).status, 255);
    EXPECT_EQ(RefusalFor(InstanceLock::kWaitError).text, "Wait for mutex error.");
    EXPECT_EQ(RefusalFor(InstanceLock::kWaitError).status, 255);
}

// Re-runs this binary's RavlinInside tests on an Xvfb screen in namespaces of their own.
TEST(RavlinProcess, CopiesOnAnXvfbScreen) {
    if (Inside()) GTEST_SKIP() << "already inside";
    if (test::RunCommand("unshare --pid --fork --mount-proc --net true 2>/dev/null").exitCode != 0)
        GTEST_SKIP() << "unshare --pid --fork --mount-proc --net is refused here";
    if (test::RunCommand("command -v xvfb-run && command -v xauth").exitCode != 0)
        GTEST_SKIP() << "xvfb-run is not usable here (tools/deps test installs xvfb and xauth)";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    // ASan's leak report at exit would change the status under test; leaks are not its subject.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string(asan ? asan : "") + ":detect_leaks=0";
    const std::string cmd =
        std::string(kInsideEnv) + "=1 ASAN_OPTIONS='" + asanOptions +
        "' unshare --pid --fork --mount-proc --net sh -c '"
        "ip link set lo up 2>/dev/null; "
        "env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY xvfb-run -a -s \"-screen 0 1280x1024x24\" \"" +
        self + "\" --gtest_filter=RavlinInside.*; exit $?' 2>&1";
    test::CommandResult r = test::RunCommand(cmd);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("[  PASSED  ] 2 tests"), std::string::npos) << r.out;
}

TEST(RavlinInside, SecondCopySigtermAndAKilledCopysLock) {
    if (!Inside()) GTEST_SKIP() << "runs inside RavlinProcess.CopiesOnAnXvfbScreen";
    RunFolder run;
    Copy first;
    ASSERT_TRUE(first.Start(run.exe(), run.path()));
    ASSERT_TRUE(WaitFor([&] { return LockHeldBy(first.pid) || !first.Running(); }, 20s));
    ASSERT_TRUE(first.Running()) << first.Err();
    std::this_thread::sleep_for(500ms);  // the window and its workers are up

    // The second copy says why on standard error and in a box; SIGTERM closes the box.
    Copy second;
    ASSERT_TRUE(second.Start(run.exe(), run.path()));
    ASSERT_TRUE(
        WaitFor([&] { return second.Err().find("该程序正在运行！") != std::string::npos; }, 20s))
        << second.Err();
    EXPECT_TRUE(second.Running());  // the box is up
    kill(second.pid, SIGTERM);
    ASSERT_TRUE(second.WaitExit(5s));
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(LockHeldBy(first.pid));

    // SIGTERM ends the first within a second, with status 0, and frees the lock.
    ASSERT_NO_FATAL_FAILURE(ExpectSigtermEndsWithinASecond(first, "while idle"));
    SingleInstance probe;
    EXPECT_EQ(probe.Acquire(), InstanceLock::kAcquired);
    probe.Release();

    // A copy killed outright leaves its lock file behind, and the next start takes it.
    Copy killed;
    ASSERT_TRUE(killed.Start(run.exe(), run.path()));
    ASSERT_TRUE(WaitFor([&] { return LockHeldBy(killed.pid); }, 20s)) << killed.Err();
    kill(killed.pid, SIGKILL);
    ASSERT_TRUE(killed.WaitExit(5s));
    Copy next;
    ASSERT_TRUE(next.Start(run.exe(), run.path()));
    ASSERT_TRUE(WaitFor([&] { return LockHeldBy(next.pid) || !next.Running(); }, 20s));
    EXPECT_TRUE(next.Running()) << next.Err();
    kill(next.pid, SIGINT);
    ASSERT_TRUE(next.WaitExit(5s));
    EXPECT_EQ(next.status, 0);
}

TEST(RavlinInside, SigtermInTheMiddleOfAListTransfer) {
    if (!Inside()) GTEST_SKIP() << "runs inside RavlinProcess.CopiesOnAnXvfbScreen";
    // The list URL's port on this namespace's own loopback: a server that accepts and never
    // answers, so the first update is still in its transfer when the signal comes.
    const std::string url = LIST_URL;
    const std::string prefix = "http://127.0.0.1:";
    ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(std::stoi(url.substr(prefix.size()))));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(server, 4) != 0) {
        close(server);
        GTEST_SKIP() << "no loopback in the namespace (ip from iproute2 brings it up)";
    }
    fcntl(server, F_SETFL, O_NONBLOCK);
    RunFolder run;
    Copy copy;
    ASSERT_TRUE(copy.Start(run.exe(), run.path()));
    int conn = -1;
    ASSERT_TRUE(WaitFor([&] { return (conn = accept(server, nullptr, nullptr)) >= 0; }, 20s))
        << copy.Err();
    std::this_thread::sleep_for(300ms);
    ASSERT_NO_FATAL_FAILURE(ExpectSigtermEndsWithinASecond(copy, "during a transfer"));
    close(conn);
    close(server);
}

}  // namespace
}  // namespace tovarek
