#include "Platform/OpenSsl.h"

#include <QApplication>

#include <gtest/gtest.h>

// Every test binary runs inside a QApplication on the offscreen platform, so queued calls to the
// main thread, timers and widgets behave as in the application.
int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
