// Widget tests: Japan's time zone, the offscreen platform, and message boxes answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <ctime>

#include "app/fonts.h"
#include "app/message_box.h"
#include "app/startup.h"

int main(int argc, char** argv) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    ::tzset();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ys::gui::InitResources();
    ys::gui::InstallFontSubstitutions();
    ys::gui::MessageBox::SetTestMode(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
