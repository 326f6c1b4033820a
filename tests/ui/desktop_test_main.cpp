// The desktop D-Bus suites run offscreen on a message bus of their own, started before Qt first
// looks for the session bus and ended after the last test.
#include <QApplication>

#include <gtest/gtest.h>

#include "tests/support/private_bus.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    tovarek::test::PrivateBus bus;
    // Without dbus-daemon the bus tests skip themselves; nothing reaches the desktop's own bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().empty()
                                            ? QByteArray("unix:path=/nonexistent/no-bus")
                                            : QByteArray::fromStdString(bus.Address()));
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
