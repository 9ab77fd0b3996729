// The program's command line: --serial to choose one device, --help and --version, as a desktop
// program has them; and the link that the window holds, made from what was chosen.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class CombinedLink;

namespace app {

struct CommandLine {
    enum class Action { Run, Help, Version, Error, List, Report, Serve, History };
    Action action = Action::Run;
    QString serial;      // --serial: an adb serial or an Apple UDID; empty: none chosen
    QString message;     // the help, the version or the error, to print
    bool json = false;   // --json: data as JSON
    bool all = false;    // --all: every ready device
    int waitSeconds = 0; // --wait: how long to wait for the devices asked for
    // --serve: where the exporter listens; "localhost" is both loopback addresses.
    QList<QHostAddress> serveHosts{QHostAddress(QHostAddress::LocalHost)};
    QString serveHostName = QStringLiteral("127.0.0.1"); // as given
    quint16 servePort = 0;
    QString webConfig;        // --web-config: TLS, passwords and headers for --serve
    int intervalSeconds = 30; // --interval: how often the exporter reads every device
};

CommandLine parseCommandLine(const QStringList& arguments);

// One link over Android devices (through the adb server) and Apple devices (through usbmuxd).
// A chosen serial is the only device followed, of either kind; without one, ANDROID_SERIAL
// chooses an Android device and no iPhone is followed.
std::unique_ptr<CombinedLink> makeDeviceLink(const QString& chosenSerial);

} // namespace app
