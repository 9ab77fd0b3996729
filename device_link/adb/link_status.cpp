#include "device_link/adb/link_status.h"

#include "device_link/adb/wifi.h"

#include <algorithm>

namespace adb {
namespace {

QString where(const ServerAddress& server) {
    const QString host = server.host.contains(u':') ? u'[' + server.host + u']' : server.host;
    return QStringLiteral("%1:%2").arg(printable(host), QString::number(server.port));
}

QString serverText(const LinkState& s) {
    const QString at = where(s.server);
    switch (s.phase) {
    case ServerPhase::Looking:
        return QStringLiteral("Looking for the adb server at %1.").arg(at);
    case ServerPhase::Starting:
        return QStringLiteral("Starting the adb server at %1.").arg(at);
    case ServerPhase::NoAdb:
        return QStringLiteral("No adb server answers at %1 and adb is not installed. Install it "
                              "with \"sudo apt install adb\".")
            .arg(at);
    case ServerPhase::Unreachable:
        return isLocalHost(s.server.host)
                   ? QStringLiteral("No adb server answers at %1; trying again. Start one with "
                                    "\"adb start-server\".")
                         .arg(at)
                   : QStringLiteral("The adb server at %1 does not answer; trying again. Start "
                                    "it on that computer.")
                         .arg(at);
    case ServerPhase::Refused:
        return QStringLiteral("The adb server at %1 refused to list devices (%2); trying again.")
            .arg(at, printable(s.serverMessage, 200));
    case ServerPhase::Lost:
        return QStringLiteral("Lost the adb server at %1; reconnecting.").arg(at);
    case ServerPhase::Up:
        break;
    }
    return QString();
}

// How D is attached; its address too where the name shown is another one.
QString attachment(const Device& d, bool named) {
    if (isWifi(d))
        return named ? QStringLiteral(" over Wi-Fi")
                     : QStringLiteral(" over Wi-Fi at %1").arg(printable(d.serial));
    if (d.serial.startsWith(QLatin1String("emulator-")))
        return QStringLiteral(" as an emulator");
    return d.usb ? QStringLiteral(" by USB") : QString();
}

QString named(const Device& d, const QString& id = {}) {
    const QString serial = printable(id.isEmpty() ? d.serial : id);
    return d.model.isEmpty() ? serial : QStringLiteral("%1 (%2)").arg(printable(d.model), serial);
}

} // namespace

QString remedy(const QString& state) {
    if (state == QLatin1String("unauthorized"))
        return QStringLiteral("Unlock the device and allow USB debugging in its prompt; if no "
                              "prompt shows, re-plug it.");
    if (state == QLatin1String("authorizing"))
        return QStringLiteral("Unlock the device and allow USB debugging in its prompt.");
    if (state == QLatin1String("connecting"))
        return QStringLiteral("Wait a moment; if it stays so, re-plug it.");
    if (state == QLatin1String("no permissions"))
        return QStringLiteral("This computer may not open it: install the udev rules (\"sudo apt "
                              "install android-sdk-platform-tools-common\"), then re-plug it.");
    if (state == QLatin1String("recovery") || state == QLatin1String("sideload") ||
        state == QLatin1String("rescue") || state == QLatin1String("bootloader"))
        return QStringLiteral("It is in %1 mode, not running Android: restart it normally.")
            .arg(state);
    if (state == QLatin1String("host"))
        return QStringLiteral("It is another computer, not a device to read.");
    if (state == QLatin1String("detached"))
        return QStringLiteral("adb has let it go: run \"adb attach\" or re-plug it.");
    // "offline", and states this program does not know.
    return QStringLiteral("Re-plug it; if it stays so, restart adb with \"adb kill-server\".");
}

QString statusText(const LinkState& s) {
    const QString at = where(s.server);
    if (s.aside)
        return QStringLiteral("%1 was chosen (%2): devices on the adb server at %3 are ignored.")
            .arg(printable(s.wanted), printable(s.wantedFrom), at);
    if (s.phase != ServerPhase::Up)
        return serverText(s);
    const auto find = [&s](const QString& serial) {
        return std::find_if(s.devices.begin(), s.devices.end(),
                            [&serial](const Device& d) { return d.serial == serial; });
    };

    // A wanted device that is ready is read next, even in the moment before it is followed.
    const auto wanted = find(s.wanted);
    const bool readingWanted = s.followed.isEmpty() && wanted != s.devices.end() &&
                               wanted->state == QLatin1String("device");
    if (!s.followed.isEmpty() || readingWanted) {
        const auto it = readingWanted ? wanted : find(s.followed);
        Device d;
        d.serial = s.followed;
        if (it != s.devices.end())
            d = *it;
        const bool reading = s.reading || readingWanted;
        QString text =
            QStringLiteral("%1 %2%3, through the adb server at %4")
                .arg(reading ? QStringLiteral("Reading") : QStringLiteral("Connected to"),
                     named(d, readingWanted ? QString() : s.followedId),
                     attachment(d, readingWanted || s.followedId.isEmpty() ||
                                       s.followedId == d.serial),
                     at);
        text += u'.';
        if (!s.wifiAlso.isEmpty() && !reading)
            text += QStringLiteral(" It is also connected over Wi-Fi at %1: the cable may be "
                                   "unplugged.")
                        .arg(printable(s.wifiAlso));
        if (!s.system.isEmpty() && !reading)
            text += u' ' + s.system + u'.';
        return text;
    }

    auto unusable = s.devices.end();
    if (!s.wanted.isEmpty()) {
        unusable = wanted;
        if (unusable == s.devices.end())
            return QStringLiteral("Waiting for %1 (%2) on the adb server at %3; other devices "
                                  "are ignored.")
                .arg(printable(s.wanted), printable(s.wantedFrom), at);
    } else {
        unusable = std::find_if(s.devices.begin(), s.devices.end(),
                                [](const Device& d) { return d.state != QLatin1String("device"); });
    }
    if (unusable == s.devices.end())
        return QStringLiteral("No device is attached to the adb server at %1. Plug one in with "
                              "USB debugging on, or run \"adb connect HOST:PORT\".")
            .arg(at);
    return QStringLiteral("%1 is \"%2\" on the adb server at %3. %4")
        .arg(named(*unusable), printable(unusable->state), at, remedy(unusable->state));
}

} // namespace adb
