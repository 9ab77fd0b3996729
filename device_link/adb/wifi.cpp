#include "device_link/adb/wifi.h"

#include "device_link/adb/adb_reading.h"
#include "device_link/adb/screen_network_parsers.h"
#include "device_link/device_facts.h"

#include <QRegularExpression>
#include <QSet>

namespace adb {

QString pairingNote() {
    return QStringLiteral("This adb server cannot pair with a code (Android 11's Wireless "
                          "debugging needs adb 30 or newer). Instead: plug the device in once, "
                          "then Switch to Wi-Fi; or use a newer adb.");
}

QString wifiAddress(const QString& text, QString* error) {
    static const QRegularExpression form(
        QStringLiteral("^([A-Za-z0-9](?:[A-Za-z0-9.-]{0,251}[A-Za-z0-9])?)(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    const uint port = m.hasMatch() && m.hasCaptured(2) ? m.captured(2).toUInt() : kWifiPort;
    if (!m.hasMatch() || port == 0 || port > 65535) {
        *error = QStringLiteral("'%1' is not HOST or HOST:PORT").arg(device::printable(text, 80));
        return {};
    }
    return m.captured(1) + u':' + QString::number(port);
}

ConnectOutcome connectOutcome(const QString& address, const QByteArray& reply) {
    const QString said = QString::fromUtf8(reply).trimmed();
    const QString lower = said.toLower();
    if (lower.startsWith(QLatin1String("connected to")))
        return {ConnectOutcome::Connected, QStringLiteral("Connected to %1.").arg(address)};
    if (lower.startsWith(QLatin1String("already connected")))
        return {ConnectOutcome::AlreadyConnected,
                QStringLiteral("%1 is connected already.").arg(address)};
    if (lower.contains(QLatin1String("authenticate")) ||
        lower.contains(QLatin1String("unauthorized")))
        return {ConnectOutcome::Unauthorized,
                QStringLiteral("The device at %1 asks for USB debugging to be allowed: unlock it "
                               "and allow it in its prompt.")
                    .arg(address)};
    if (lower.contains(QLatin1String("refused")))
        return {ConnectOutcome::Refused,
                QStringLiteral("%1 refused: the device does not listen there. Plug it in once "
                               "and Switch to Wi-Fi, or check the port.")
                    .arg(address)};
    if (lower.contains(QLatin1String("timed out")) || lower.contains(QLatin1String("no route")) ||
        lower.contains(QLatin1String("unreachable")) || said.isEmpty())
        return {ConnectOutcome::NoAnswer,
                QStringLiteral("%1 does not answer: is the device awake, and on this network?")
                    .arg(address)};
    return {
        ConnectOutcome::Failed,
        QStringLiteral("Connecting to %1 failed: %2.").arg(address, device::printable(said, 200))};
}

ConnectOutcome connectWifi(const ServerAddress& server, const QString& address,
                           const Limits& limits) {
    try {
        const auto listed = listDevices(server, {3000, 1 << 20}, nullptr);
        const bool offline =
            listed && std::any_of(listed->begin(), listed->end(), [&](const Device& d) {
                return d.serial == address && d.state != QLatin1String("device");
            });
        if (offline)
            hostQuery(server, "host:disconnect:" + address.toUtf8(), {3000, 4096});
        return connectOutcome(address,
                              hostQuery(server, "host:connect:" + address.toUtf8(), limits));
    } catch (const TransportError& e) {
        return {ConnectOutcome::Failed, QStringLiteral("Connecting to %1 failed: %2.")
                                            .arg(address, QString::fromUtf8(e.what()))};
    }
}

QString listenOnTcp(const ServerAddress& server, const QString& serial, quint16 port,
                    const Limits& limits) {
    return device::printable(
        QString::fromUtf8(
            deviceService(server, serial, "tcpip:" + QByteArray::number(port), limits))
            .trimmed(),
        120);
}

bool isWifi(const Device& transport) {
    return !networkSerialHost(transport.serial).isEmpty() ||
           transport.serial.contains(QLatin1String("._adb-tls-"));
}

std::vector<AttachedAndroid> byDevice(const std::vector<Device>& transports,
                                      const QHash<QString, QString>& serialNumbers) {
    const auto numberOf = [&](const Device& d) { return serialNumbers.value(d.serial); };
    const auto ready = [](const Device& d) { return d.state == QLatin1String("device"); };
    // Grouped once: a server may list thousands of transports.
    QHash<QString, std::vector<const Device*>> bySerialNumber;
    for (const Device& t : transports) {
        if (const QString number = numberOf(t); !number.isEmpty())
            bySerialNumber[number].push_back(&t);
    }
    std::vector<AttachedAndroid> out;
    QSet<QString> merged; // transports taken into another's device
    for (const Device& t : transports) {
        if (merged.contains(t.serial))
            continue;
        const QString number = numberOf(t);
        const std::vector<const Device*> same = bySerialNumber.value(number);
        std::vector<const Device*> usb;
        std::copy_if(same.begin(), same.end(), std::back_inserter(usb),
                     [](const Device* d) { return !isWifi(*d); });
        if (same.size() > 1 && usb.size() != 1) {
            // One serial number for devices that cannot be told apart: each by its transport.
            out.push_back({t.serial, t, {t.serial}, isWifi(t) ? t.serial : QString(), !isWifi(t)});
            continue;
        }
        if (same.size() <= 1) {
            out.push_back({number.isEmpty() ? t.serial : number,
                           t,
                           {t.serial},
                           isWifi(t) ? t.serial : QString(),
                           !isWifi(t)});
            continue;
        }
        AttachedAndroid device{number, *usb.front(), {}, {}, true};
        for (const Device* d : same) {
            merged.insert(d->serial);
            device.names << d->serial;
            if (isWifi(*d) && device.wifiAddress.isEmpty())
                device.wifiAddress = d->serial;
            // Through USB while it is ready there; else through a ready Wi-Fi transport.
            if (!ready(device.via) && ready(*d))
                device.via = *d;
        }
        out.push_back(device);
    }
    return out;
}

QString serialNumberFrom(const QByteArray& output) {
    // Letters, digits and a few marks, as makers write them; anything else (a shell's
    // complaint) is no serial number.
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    const QString line = QString::fromUtf8(output).section(u'\n', 0, 0).trimmed();
    return form.match(line).hasMatch() ? line : QString();
}

} // namespace adb
