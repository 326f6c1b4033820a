// The UI suites need a QApplication for fonts, widgets and events; offscreen unless the caller
// chose a platform.
#include <QApplication>

#include <gtest/gtest.h>

#include "res/artwork.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // No session bus: a window that sends a notice must never reach the desktop's own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tovarek-tests-have-no-bus");
    QApplication app(argc, argv);
    tovarek::InitArtworkResources();  // the images the skin suites draw
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
