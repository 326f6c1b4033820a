// A D-Bus message bus of the test's own: a dbus-daemon with a configuration of ours (no service
// activation, so nothing installed on the machine is ever started) listening in a folder the
// object made. Ended and removed with the object.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace tovarek::test {

class TempDir;

class PrivateBus {
public:
    PrivateBus();  // check Address(): empty when dbus-daemon could not be started
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& Address() const { return m_strAddress; }

private:
    std::unique_ptr<TempDir> m_pDir;
    pid_t m_pid = -1;
    std::string m_strAddress;
};

}  // namespace tovarek::test
