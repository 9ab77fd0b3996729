#include "cli/follow_face.h"

#include "care/battery_feed.h"
#include "device_link/adb/adb_protocol.h"
#include "device_link/background_work.h"
#include "report/json_report.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace cli {
namespace {

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

// Whether LINE went out whole: not once the reader has gone.
bool written(const QByteArray& line) {
    return std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout) ==
               std::size_t(line.size()) &&
           std::fflush(stdout) == 0;
}

} // namespace

QByteArray followJsonLine(const std::vector<care::Watched>& devices) {
    QJsonArray array;
    for (const care::Watched& d : devices) {
        if (d.reading && survey::isReady(d.listed))
            array.append(report::readingJson(*d.reading));
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n';
}

int runFollow(bool waybar) {
    if (!device::quitOnSignals()) {
        say(QStringLiteral("cannot catch SIGTERM"));
        return 1;
    }
    // A reader gone is a write that fails, not a signal that ends the program unheard.
    std::signal(SIGPIPE, SIG_IGN);
    care::BatteryFeed::Options options;
    options.settingsPath = care::careSettingsPath();
    options.watch.server =
        adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment());
    options.say = &say;
    options.reads = [](const care::CareSettings&) { return true; };
    care::BatteryFeed feed(std::move(options));
    QByteArray last;
    const auto print = [&] {
        // Once every device has been read a first time: a bar shows no half-read round.
        if (last.isEmpty() && !(feed.watch() && feed.watch()->firstRoundDone()))
            return;
        const std::vector<care::Watched> devices = feed.devices();
        const QByteArray line =
            waybar ? care::waybarLine(care::glance(devices, feed.settings().limits))
                   : followJsonLine(devices);
        if (line == last)
            return;
        last = line;
        if (!written(line))
            QCoreApplication::exit(0);
    };
    // A pipe whose reader closed says so at once: the bar that ran it has gone.
    QSocketNotifier gone(STDOUT_FILENO, QSocketNotifier::Exception);
    QObject::connect(&gone, &QSocketNotifier::activated, [&gone] {
        pollfd out{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)))
            QCoreApplication::exit(0);
        else
            gone.setEnabled(false); // something else: the next line tells
    });
    QObject::connect(&feed, &care::BatteryFeed::devicesChanged, print);
    QObject::connect(&feed, &care::BatteryFeed::settingsChanged, print);
    feed.start();
    return QCoreApplication::exec();
}

} // namespace cli
