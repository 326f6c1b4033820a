// Runs a piece of a test in a forked child under hard resource limits, so that a test can state
// "this takes less than N bytes of address space and M seconds of CPU" without timing anything.
// The child's exit code is the body's result; a child the kernel kills (out of CPU time, or
// aborted by a failed allocation) reports the signal instead.
#pragma once

#include <functional>
#include <string>

namespace tovarek::test {

struct ChildOutcome {
    int exitCode = -1;  // the body's result when the child exited normally
    int signal = 0;     // the signal that ended the child, 0 when it exited
    std::string Describe() const;
};

// `body` runs in the child with RLIMIT_AS = addressSpaceBytes and RLIMIT_CPU = cpuSeconds;
// its result (0 to 255) is the exit code. Under AddressSanitizer only the CPU limit is set. Must be called from a single-threaded moment of the
// test (no other thread of the parent is used in the child).
ChildOutcome RunLimited(size_t addressSpaceBytes, int cpuSeconds, const std::function<int()>& body);

}  // namespace tovarek::test
