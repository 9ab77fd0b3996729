// Device Info: shows the state of an attached battery-powered device.
#include "app/command_line.h"
#include "care/care_settings.h"
#include "cli/care_face.h"
#include "cli/follow_face.h"
#include "cli/script_face.h"
#include "desktop/battery_care.h"
#include "desktop/battery_history.h"
#include "desktop/desktop_integration.h"
#include "desktop/device_menu.h"
#include "desktop/wifi.h"
#include "device_link/adb/wifi_keeper.h"
#include "device_link/background_work.h"
#include "device_link/combined_link.h"
#include "display/form1.h"
#include "exporter/serve.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"

#include <QApplication>
#include <QMessageBox>

#include <chrono>
#include <cstdio>

namespace {

// Each iPhone hears its session end, and a read under way ends, unless either takes longer.
constexpr std::chrono::seconds kEndWithin{1};

int showWindow(const app::CommandLine& command);

int run(int argc, char* argv[]) {
    // Help, version and a wrong option are answered before any window system is needed.
    desktop::nameApplication();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const app::CommandLine command = app::parseCommandLine(arguments);
    if (command.action == app::CommandLine::Action::List ||
        command.action == app::CommandLine::Action::Report) {
        // Without a display: a text report lays its values out in a window drawn nowhere.
        if (command.action == app::CommandLine::Action::Report && !command.script.json) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            // Standard error is for our own words: not Qt's about a missing runtime folder.
            qputenv("QT_LOGGING_RULES", "default.warning=false");
            QApplication app(argc, argv);
            return device::endProgram(cli::runScript(command.script), kEndWithin);
        }
        QCoreApplication app(argc, argv);
        return device::endProgram(cli::runScript(command.script), kEndWithin);
    }
    if (command.action == app::CommandLine::Action::History) {
        QCoreApplication app(argc, argv);
        return device::endProgram(cli::runHistory(command.script.serial, command.script.json),
                                  kEndWithin);
    }
    if (command.action == app::CommandLine::Action::Care) {
        QCoreApplication app(argc, argv);
        // Its reads are worth nothing once it ends: half the time, so SIGTERM ends it within 1 s.
        return device::endProgram(cli::runCare(), kEndWithin / 2);
    }
    if (command.action == app::CommandLine::Action::Follow) {
        QCoreApplication app(argc, argv);
        return device::endProgram(cli::runFollow(command.waybar), kEndWithin / 2);
    }
    if (command.action == app::CommandLine::Action::Serve) {
        QCoreApplication app(argc, argv);
        return device::endProgram(exporter::runServe(command.serve), kEndWithin);
    }
    if (command.action != app::CommandLine::Action::Run) {
        const bool failed = command.action == app::CommandLine::Action::Error;
        std::fputs(qUtf8Printable(command.message), failed ? stderr : stdout);
        return failed ? 2 : 0;
    }

    QApplication app(argc, argv);
    return device::endProgram(showWindow(command), kEndWithin);
}

int showWindow(const app::CommandLine& command) {
    auto link = app::makeDeviceLink(command.script.serial);
    CombinedLink& devices = *link;
    Form1 window(std::move(link));
    desktop::showLink(window, devices);
    // Addresses connected through the window stay connected while it runs, and come back with it.
    WifiKeeper wifi(adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment()));
    desktop::installDeviceMenu(window, devices,
                               desktop::wifiEntries(window, devices, wifi, care::careSettingsPath(),
                                                    [](const QString& line) {
                                                        std::fprintf(stderr, "device-info: %s\n",
                                                                     qUtf8Printable(line));
                                                    }));
    // What the window reads of a battery's wear is kept, off the window's thread.
    const QString historyPath = history::defaultPath();
    history::Writer historyWriter(historyPath);
    history::Recorder recorder;
    desktop::installHistory(window, devices, historyWriter, recorder, historyPath);
    desktop::BatteryCare care(window, devices, care::careSettingsPath());
    desktop::installNotificationsMenu(window, care);
    QObject::connect(&window, &Form1::failureReported, &window, [&window](const QString& message) {
        std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(message));
        // Non-modal, so no second event loop runs while the window goes on working.
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Device Info"), message,
                                    QMessageBox::Ok, &window);
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
    window.show();
    if (command.notifications)
        care.showSettings();
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    return run(argc, argv);
}
