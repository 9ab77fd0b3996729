// Device Info: shows the state of an attached battery-powered device.
#include "app/battery_care.h"
#include "app/care_settings.h"
#include "app/command_line.h"
#include "app/desktop_integration.h"
#include "app/device_menu.h"
#include "app/history_face.h"
#include "app/script_face.h"
#include "app/serve_face.h"
#include "device_link/background_work.h"
#include "device_link/combined_link.h"
#include "display/form1.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"

#include <QApplication>
#include <QMessageBox>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

int run(int argc, char* argv[]) {
    // Help, version and a wrong option are answered before any window system is needed.
    app::nameApplication();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const app::CommandLine command = app::parseCommandLine(arguments);
    if (command.action == app::CommandLine::Action::List ||
        command.action == app::CommandLine::Action::Report) {
        // Without a display: a text report lays its values out in a window drawn nowhere.
        if (command.action == app::CommandLine::Action::Report && !command.json) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            // Standard error is for our own words: not Qt's about a missing runtime folder.
            qputenv("QT_LOGGING_RULES", "default.warning=false");
            QApplication app(argc, argv);
            return app::runScript(command);
        }
        QCoreApplication app(argc, argv);
        return app::runScript(command);
    }
    if (command.action == app::CommandLine::Action::History) {
        QCoreApplication app(argc, argv);
        return app::runHistory(command);
    }
    if (command.action == app::CommandLine::Action::Serve) {
        QCoreApplication app(argc, argv);
        return app::runServe(command);
    }
    if (command.action != app::CommandLine::Action::Run) {
        const bool failed = command.action == app::CommandLine::Action::Error;
        std::fputs(qUtf8Printable(command.message), failed ? stderr : stdout);
        return failed ? 2 : 0;
    }

    QApplication app(argc, argv);
    auto link = app::makeDeviceLink(command.serial);
    CombinedLink& devices = *link;
    Form1 window(std::move(link));
    app::showLink(window, devices);
    app::installDeviceMenu(window, devices);
    // What the window reads of a battery's wear is kept, off the window's thread.
    const QString historyPath = history::defaultPath();
    history::Writer historyWriter(historyPath);
    history::Recorder recorder;
    app::installHistory(window, devices, historyWriter, recorder, historyPath);
    app::BatteryCare care(window, devices, app::careSettingsPath());
    app::installNotificationsMenu(window, care);
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
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    const int status = run(argc, argv);
    // Each iPhone hears its session end, and a read under way ends, unless either takes more
    // than a second: then the program ends at once, so that nothing it still uses is destroyed
    // beneath it.
    if (!device::finishBackgroundWork(std::chrono::seconds(1))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
