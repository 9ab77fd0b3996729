#include "app/command_line.h"

#include "device_link/adb/adb_link.h"
#include "device_link/adb/wifi.h"
#include "device_link/combined_link.h"
#include "device_link/ios/ios_link.h"
#include "device_link/upower/upower_link.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace app {

namespace {

// "9877", "0.0.0.0:9877", "[::]:9877", "localhost:9877"; a host must be an address or
// localhost, so that nothing is looked up. Empty where it is taken, else what is wrong.
QString serveAddress(const QString& text, QList<exporter::ListenAddress>& out) {
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const QString portText = text.mid(colon + 1);
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535)
        return QStringLiteral("PORT '%1' is not a number from 0 to 65535").arg(portText);
    exporter::ListenAddress listen{{}, quint16(port), host};
    if (host == QLatin1String("localhost")) {
        listen.hosts = {QHostAddress(QHostAddress::LocalHost),
                        QHostAddress(QHostAddress::LocalHostIPv6)};
    } else if (QHostAddress address; address.setAddress(host)) {
        listen.hosts = {address};
    } else {
        return QStringLiteral("HOST '%1' is not an IP address or localhost").arg(host);
    }
    out.append(listen);
    return {};
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the state of an attached Android device, iPhone or iPad."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption serial(
        {QStringLiteral("s"), QStringLiteral("serial")},
        QStringLiteral("Show only the device with this adb serial, Apple UDID or UPower serial."),
        QStringLiteral("SERIAL"));
    parser.addOption(serial);
    const QCommandLineOption list(
        QStringLiteral("list"),
        QStringLiteral("Print one line per attached device: serial or UDID, kind, state and name, "
                       "tab-separated; then exit."));
    const QCommandLineOption report(
        QStringLiteral("report"),
        QStringLiteral("Read the device the window would show (or --serial's) once, print what "
                       "Copy all would, and exit."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("With --report or --list: print JSON instead."));
    const QCommandLineOption all(
        QStringLiteral("all"),
        QStringLiteral("With --report: read every ready device, side by side."));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        QStringLiteral("With --report: wait up to SECONDS for the device (or one) to be ready."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption serve(
        QStringLiteral("serve"),
        QStringLiteral("Serve every device's readings as Prometheus metrics at "
                       "http://[HOST:]PORT/metrics (HOST 127.0.0.1 unless given) until SIGTERM."),
        QStringLiteral("[HOST:]PORT"));
    const QCommandLineOption webConfig(
        QStringLiteral("web-config"),
        QStringLiteral("With --serve: TLS, client certificates, passwords and headers from FILE, "
                       "a Prometheus web configuration file."),
        QStringLiteral("FILE"));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("With --serve: read every device every SECONDS (default 30)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption history(
        QStringLiteral("history"),
        QStringLiteral("Print the battery history this computer keeps, oldest first (--serial's "
                       "device only), and exit."));
    const QCommandLineOption connectTo(
        QStringLiteral("connect"),
        QStringLiteral("With --serve: keep the Android device at HOST[:PORT] (5555 unless given) "
                       "connected over Wi-Fi; may be given more than once."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption careOption(
        QStringLiteral("care"),
        QStringLiteral("Keep watch with no window: notify of every device's battery as "
                       "Notifications... in the window sets, until SIGTERM."));
    const QCommandLineOption follow(
        QStringLiteral("follow"),
        QStringLiteral("Print every device's battery as one line now, and one more each time it "
                       "changes, for status bars and scripts, until SIGTERM: with --json as "
                       "--report --all --json gives it, with --waybar for Waybar."));
    const QCommandLineOption waybar(
        QStringLiteral("waybar"),
        QStringLiteral("With --follow: a Waybar custom module's JSON (return-type json)."));
    const QCommandLineOption notifications(
        QStringLiteral("notifications"),
        QStringLiteral("Open the window with its Notifications... dialog."));
    parser.addOptions({list, report, json, all, wait, serve, webConfig, interval, history,
                       connectTo, careOption, follow, waybar, notifications});

    CommandLine out;
    const QString program = QFileInfo(arguments.value(0, QStringLiteral("device-info"))).fileName();
    const auto error = [&](const QString& what) {
        out.action = CommandLine::Action::Error;
        out.message =
            QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, what);
        return out;
    };
    if (!parser.parse(arguments))
        return error(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return error(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out.action = CommandLine::Action::Help;
        // Answered before the application object exists, which is where Qt takes the name.
        out.message = parser.helpText().replace(QLatin1String("<executable_name>"), program) +
                      QStringLiteral("\nWithout --serial it shows the first ready device; "
                                     "ANDROID_SERIAL chooses an Android device.\n"
                                     "--list, --report, --serve, --history, --care and --follow "
                                     "need no display. "
                                     "Exit status of "
                                     "--report: 0 when every device asked for was read, 1 when "
                                     "one was not, 2 for a wrong option.\n");
        return out;
    }
    if (parser.isSet(version)) {
        out.action = CommandLine::Action::Version;
        out.message = QStringLiteral("device-info " DEVICE_INFO_VERSION "\n");
        return out;
    }
    if (parser.isSet(serial)) {
        out.script.serial = parser.value(serial).trimmed();
        if (out.script.serial.isEmpty())
            return error(QStringLiteral("--serial needs a serial or UDID"));
    }
    out.script.json = parser.isSet(json);
    out.script.all = parser.isSet(all);
    if (parser.isSet(list) && parser.isSet(report))
        return error(QStringLiteral("--list and --report do not go together"));
    if (parser.isSet(careOption)) {
        // Every device, from what the settings say: nothing else to choose.
        if (arguments.size() != 2 || parser.isSet(history))
            return error(QStringLiteral("--care takes no other option"));
        out.action = CommandLine::Action::Care;
        return out;
    }
    if (parser.isSet(follow)) {
        // Every device, at the settings' interval: one way of printing to choose.
        if (parser.isSet(json) == parser.isSet(waybar) || arguments.size() != 3)
            return error(QStringLiteral("--follow takes one of --json and --waybar, and nothing "
                                        "else"));
        out.action = CommandLine::Action::Follow;
        out.waybar = parser.isSet(waybar);
        return out;
    }
    if (parser.isSet(waybar))
        return error(QStringLiteral("--waybar goes with --follow"));
    if (parser.isSet(notifications)) {
        if (arguments.size() != 2)
            return error(QStringLiteral("--notifications takes no other option"));
        out.notifications = true;
        return out;
    }
    if (parser.isSet(history)) {
        if (parser.isSet(list) || parser.isSet(report) || parser.isSet(serve) || out.script.all ||
            parser.isSet(wait) || parser.isSet(interval) || parser.isSet(webConfig))
            return error(QStringLiteral("--history takes only --json and --serial"));
        out.action = CommandLine::Action::History;
        return out;
    }
    if (parser.isSet(serve)) {
        if (parser.isSet(list) || parser.isSet(report) || out.script.json || out.script.all ||
            parser.isSet(wait) || !out.script.serial.isEmpty())
            return error(
                QStringLiteral("--serve takes only --interval, --web-config and --connect"));
        // As exporters take --web.listen-address: each one given is served.
        for (const QString& address : parser.values(serve)) {
            if (const QString wrong = serveAddress(address, out.serve.listen); !wrong.isEmpty())
                return error(QStringLiteral("--serve needs [HOST:]PORT: %1").arg(wrong));
        }
        for (const QString& text : parser.values(connectTo)) {
            QString why;
            const QString address = adb::wifiAddress(text, &why);
            if (address.isEmpty())
                return error(QStringLiteral("--connect needs HOST[:PORT]: %1").arg(why));
            out.serve.connect << address;
        }
        out.serve.webConfig = parser.value(webConfig);
        if (parser.isSet(webConfig) && out.serve.webConfig.isEmpty())
            return error(QStringLiteral("--web-config needs a file"));
        if (parser.isSet(interval)) {
            bool ok = false;
            out.serve.intervalSeconds = parser.value(interval).toInt(&ok);
            if (!ok || out.serve.intervalSeconds < 1 || out.serve.intervalSeconds > 86400)
                return error(
                    QStringLiteral("--interval needs a whole number of seconds, from 1 to 86400"));
        }
        out.action = CommandLine::Action::Serve;
        return out;
    }
    if (parser.isSet(interval) || parser.isSet(webConfig) || parser.isSet(connectTo))
        return error(QStringLiteral("--interval, --web-config and --connect go with --serve"));
    if (parser.isSet(list)) {
        if (out.script.all || parser.isSet(wait) || !out.script.serial.isEmpty())
            return error(QStringLiteral("--list takes no --serial, --all or --wait"));
        out.action = CommandLine::Action::List;
        out.script.list = true;
        return out;
    }
    if (!parser.isSet(report)) {
        if (out.script.json || out.script.all || parser.isSet(wait))
            return error(QStringLiteral("--json, --all and --wait go with --report"));
        return out;
    }
    out.action = CommandLine::Action::Report;
    out.script.list = false;
    if (out.script.all && !out.script.serial.isEmpty())
        return error(QStringLiteral("--all and --serial do not go together"));
    if (parser.isSet(wait)) {
        bool ok = false;
        out.script.waitSeconds = parser.value(wait).toInt(&ok);
        if (!ok || out.script.waitSeconds < 0 || out.script.waitSeconds > 86400)
            return error(QStringLiteral("--wait needs a whole number of seconds"));
    }
    return out;
}

std::unique_ptr<CombinedLink> makeDeviceLink(const QString& chosenSerial) {
    std::vector<CombinedLink::Kind> kinds;
    kinds.push_back({QStringLiteral("Android:"), std::make_unique<AdbLink>()});
    kinds.push_back({QStringLiteral("iPhone and iPad:"), std::make_unique<IosLink>()});
    kinds.push_back({QStringLiteral("Peripherals:"), std::make_unique<UPowerLink>(), true});
    auto link = std::make_unique<CombinedLink>(std::move(kinds));
    const QString androidSerial = qEnvironmentVariable("ANDROID_SERIAL").trimmed();
    if (!chosenSerial.isEmpty())
        link->setWantedSerial(chosenSerial, QStringLiteral("--serial"));
    else if (!androidSerial.isEmpty())
        link->setWantedSerial(androidSerial, QStringLiteral("ANDROID_SERIAL"));
    return link;
}

} // namespace app
