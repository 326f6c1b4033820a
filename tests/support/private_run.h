// A child process of the test with a mount namespace of its own whose /run is an empty tmpfs:
// there a test may own the journal's socket or a user's runtime folder without touching the
// machine's. Needs the right to make mount namespaces (root in CI).
#pragma once

#include <functional>
#include <string>

namespace tovarek::test {

// Runs `body` in such a child and returns its result (0..255), or -1 when the namespace could not
// be made (`why` then says why). `body` may write to `out`, handed back in `output`.
int RunWithPrivateRun(const std::function<int(int out)>& body, std::string& output,
                      std::string& why);

}  // namespace tovarek::test
