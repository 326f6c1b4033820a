#include "platform/single_instance.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/private_run.h"
#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

// Starts a child of this test that takes the lock and then waits to be ended.
pid_t StartHolder() {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        SingleInstance lock;
        char result = lock.Acquire() == InstanceLock::kAcquired ? 'y' : 'n';
        if (write(ready[1], &result, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char result = 0;
    if (read(ready[0], &result, 1) != 1 || result != 'y') {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    close(ready[0]);
    return pid;
}

TEST(SingleInstance, SecondCopyIsRefusedAndADeadHoldersLockIsTakenOver) {
    test::TempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(SingleInstance::LockPath(), dir.File("Tovarek.lock"));

    pid_t holder = StartHolder();
    ASSERT_GT(holder, 0);
    SingleInstance second;
    EXPECT_EQ(second.Acquire(), InstanceLock::kHeldByRunningCopy);

    // The holder dies without releasing anything: the kernel frees the lock.
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(second.Acquire(), InstanceLock::kAcquired);

    // While we hold it, a fresh holder is refused too.
    EXPECT_EQ(StartHolder(), -1);
    second.Release();
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstance, UnusableLockFolderIsAnError) {
    setenv("XDG_RUNTIME_DIR", "/nonexistent-tovarek-dir", 1);
    SingleInstance lock;
    EXPECT_EQ(lock.Acquire(), InstanceLock::kCreateError);
    unsetenv("XDG_RUNTIME_DIR");
}

// Someone else's file, a link or a FIFO under the lock's name is never taken as the lock, and
// the thing found there is left as it was.
TEST(SingleInstance, ForeignLinkedOrSpecialLockFileIsAnErrorNotALock) {
    test::TempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    const std::string path = dir.File("Tovarek.lock");
    const std::string target = dir.File("elsewhere");
    test::WriteFile(target, "keep");

    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    SingleInstance lock;
    EXPECT_EQ(lock.Acquire(), InstanceLock::kCreateError);
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(test::ReadFile(target), "keep");
    unlink(path.c_str());

    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(lock.Acquire(), InstanceLock::kCreateError);
    unlink(path.c_str());

    test::WriteFile(path, "");
    if (geteuid() == 0) {
        // Only root can hand a file to another user; elsewhere the two cases above stand alone.
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        EXPECT_EQ(lock.Acquire(), InstanceLock::kCreateError);
        ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
    }
    // The user's own file is the lock.
    EXPECT_EQ(lock.Acquire(), InstanceLock::kAcquired);
    EXPECT_TRUE(lock.IsHeld());
    lock.Release();
    EXPECT_FALSE(lock.IsHeld());
    unsetenv("XDG_RUNTIME_DIR");
}

// A copy started with XDG_RUNTIME_DIR empty meets the copy of the session, whose variable names
// /run/user/<uid>: both take the same lock. A /run/user/<uid> that is not private is not used.
TEST(SingleInstance, EmptyRuntimeVariableFindsTheSessionsLock) {
    std::string output, why;
    const int rc = test::RunWithPrivateRun(
        [](int) {
            const std::string own = "/run/user/" + std::to_string(getuid());
            if (mkdir("/run/user", 0755) != 0 || mkdir(own.c_str(), 0700) != 0) return 1;
            setenv("XDG_RUNTIME_DIR", own.c_str(), 1);
            SingleInstance session;
            if (session.Acquire() != InstanceLock::kAcquired) return 2;
            setenv("XDG_RUNTIME_DIR", "", 1);
            if (SingleInstance::LockPath() != own + "/Tovarek.lock") return 3;
            SingleInstance second;
            if (second.Acquire() != InstanceLock::kHeldByRunningCopy) return 4;
            unsetenv("XDG_RUNTIME_DIR");
            if (SingleInstance::LockPath() != own + "/Tovarek.lock") return 5;
            chmod(own.c_str(), 0755);
            if (SingleInstance::LockPath() != "/tmp/Tovarek-" + std::to_string(getuid()) + ".lock")
                return 6;
            return 0;
        },
        output, why);
    if (rc < 0) GTEST_SKIP() << why;
    EXPECT_EQ(rc, 0) << "step " << rc << " failed";
}

}  // namespace
}  // namespace tovarek
