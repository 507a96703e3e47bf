// main() for tests that show windows: the application object of the toolkit first, on
// this thread, which is then the UI thread.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/ui/qt/qt_app.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ui::SetUpApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
