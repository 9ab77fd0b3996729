// device-sim: plays an Android device for "adb connect 127.0.0.1:PORT", or, for a profile with
// a "udid", usbmuxd with an iPhone behind it (USBMUXD_SOCKET_ADDRESS=127.0.0.1:PORT).
//   device-sim PROFILE.json [PORT]
//   device-sim IPHONE.json IPHONE.json... [PORT]   several iPhones behind one usbmuxd
// Prints "listening on PORT", then takes control lines on standard input: "set battery.level
// 40", "set battery.charging 1", "set battery.current -487000|none" (µA), "set battery.learned
// 3900", "set name NAME", "set address
// 10.0.0.5|none", "vanish",
// "hang", "flood", "drip", "malformed", "resume", "count"; for an iPhone "trust", "unlock",
// "deny", "unplug", "plug", "close", "hang", "resume", "set name|battery.level|latencyMs N",
// "count", "handshakes". Each is answered with one line: "ok",
// the commands run so far as JSON, or "error: ...".
#include "ios_simulator.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    bool numeric = false;
    const quint16 port = arguments.isEmpty() ? 0 : quint16(arguments.last().toUShort(&numeric));
    if (numeric)
        arguments.removeLast();
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: %s PROFILE.json [PROFILE.json...] [PORT]\n", argv[0]);
        return 2;
    }
    std::unique_ptr<sim::Simulator> android;
    std::unique_ptr<sim::IosSimulator> apple;
    std::vector<sim::IosProfile> iphones;
    for (const QString& path : arguments) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "device-sim: cannot read %s\n", qPrintable(path));
            return 2;
        }
        const QByteArray json = file.readAll();
        QString error;
        if (json.contains("\"udid\"")) {
            if (auto profile = sim::iosProfileFromJson(json, &error))
                iphones.push_back(std::move(*profile));
        } else if (arguments.size() == 1) {
            if (auto profile = sim::profileFromJson(json, &error))
                android = std::make_unique<sim::Simulator>(std::move(*profile));
        } else {
            error = QStringLiteral("only iPhones share one simulated usbmuxd");
        }
        if (!error.isEmpty()) {
            std::fprintf(stderr, "device-sim: %s: %s\n", qPrintable(path), qPrintable(error));
            return 2;
        }
    }
    if (!iphones.empty())
        apple = std::make_unique<sim::IosSimulator>(std::move(iphones));
    if (!(android ? android->listen(port) : apple->listen(port))) {
        std::fprintf(stderr, "device-sim: cannot listen on port %u\n", unsigned(port));
        return 1;
    }
    std::printf("listening on %u\n", unsigned(android ? android->port() : apple->port()));
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) { // no controller (or it went away): the device just goes on
            input.setEnabled(false);
            return;
        }
        pending.append(chunk, n);
        qsizetype newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(newline));
            pending.remove(0, newline + 1);
            std::printf("%s\n",
                        qPrintable((android ? android->control(line) : apple->control(line))));
            std::fflush(stdout);
        }
    });
    return QCoreApplication::exec();
}
