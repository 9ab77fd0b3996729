#include "device_link/background_work.h"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    // Headless everywhere, including test discovery.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    // As the program does: a read still under way ends while the application stands.
    return device::endProgram(RUN_ALL_TESTS(), std::chrono::seconds(10));
}
