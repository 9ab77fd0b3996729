#include "device_link/adb/wifi.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_reading.h"
#include "device_link/adb/screen_network_parsers.h"
#include "device_link/background_work.h"
#include "device_link/device_facts.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>

#include <chrono>
#include <future>
#include <memory>

namespace adb {

QString pairingNote() {
    return QStringLiteral("This adb server cannot pair with a code (Android 11's Wireless "
                          "debugging needs adb 30 or newer). Instead: plug the device in once, "
                          "then Switch to Wi-Fi; or use a newer adb.");
}

QString wifiAddress(const QString& text, QString* error) {
    QString given = text.trimmed();
    const bool bracketed = given.startsWith(u'[');
    if (bracketed ? given.endsWith(u']') : !given.contains(u':'))
        given += u':' + QString::number(kWifiPort);
    const QString host = networkSerialHost(given);
    if (host.isEmpty()) {
        *error = QStringLiteral("'%1' is not HOST or HOST:PORT").arg(device::printable(text, 80));
        return {};
    }
    const QString port = QString::number(given.section(u':', -1).toUInt());
    return (bracketed ? u'[' + host + u']' : host) + u':' + port;
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
    return !transport.usb && (!networkSerialHost(transport.serial).isEmpty() ||
                              transport.serial.contains(QLatin1String("._adb-tls-")));
}

namespace {

// HOST's addresses, within MS: a name that does not resolve by then has none.
QStringList resolved(const QString& host, int ms) {
    if (const QHostAddress literal(host); !literal.isNull())
        return {literal.toString()};
    auto answer = std::make_shared<std::promise<QStringList>>();
    std::future<QStringList> future = answer->get_future();
    const bool asked = device::runInBackground([host, answer] {
        QStringList out;
        for (const QHostAddress& address : QHostInfo::fromName(host).addresses())
            out << address.toString();
        answer->set_value(out);
    });
    if (!asked || future.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready)
        return {};
    return future.get();
}

} // namespace

Identity identityFrom(const QByteArray& output) {
    const QStringList parts = splitSections(QString::fromUtf8(output), 4);
    return {serialNumberFrom(parts[0].toUtf8()),
            parseAddresses(parts[1]),
            {},
            parseDeviceName(parts[2], parts[3])};
}

Identity readIdentity(const ServerAddress& server, const Device& transport, const Limits& limits) {
    Identity identity;
    try {
        identity =
            identityFrom(runDeviceCommand(server, transport.serial, command::Identity, limits));
    } catch (const TransportError&) {
        return {};
    }
    if (isWifi(transport))
        identity.hostAddresses = resolved(networkSerialHost(transport.serial), 2000);
    return identity;
}

QHash<QString, Identity> stillKnown(const QHash<QString, Identity>& known,
                                    const std::vector<Device>& transports) {
    QHash<QString, Identity> out;
    for (const Device& t : transports) {
        const auto it = known.constFind(t.serial);
        if (it != known.cend() &&
            (!it->serialNumber.isEmpty() || t.state == QLatin1String("device")))
            out.insert(t.serial, *it);
    }
    return out;
}

std::vector<Device> readAgainFor(const Device& wifi, const std::vector<Device>& transports,
                                 const QHash<QString, Identity>& identities) {
    const Identity w = identities.value(wifi.serial);
    std::vector<Device> out;
    if (!isWifi(wifi) || w.serialNumber.isEmpty())
        return out;
    for (const Device& t : transports) {
        const Identity usb = identities.value(t.serial);
        if (!isWifi(t) && t.state == QLatin1String("device") &&
            usb.serialNumber == w.serialNumber &&
            std::none_of(w.hostAddresses.begin(), w.hostAddresses.end(),
                         [&usb](const QString& a) { return usb.addresses.contains(a); }))
            out.push_back(t);
    }
    return out;
}

Identity withAddressesOf(Identity known, const Identity& again) {
    if (again.serialNumber == known.serialNumber) {
        known.addresses = again.addresses;
        if (!again.name.isEmpty())
            known.name = again.name;
    }
    return known;
}

QString deviceName(const AttachedAndroid& device, const QHash<QString, Identity>& identities) {
    if (const QString name = identities.value(device.via.serial).name; !name.isEmpty())
        return name;
    for (const QString& transport : device.names) {
        if (const QString name = identities.value(transport).name; !name.isEmpty())
            return name;
    }
    return device.via.model;
}

std::vector<AttachedAndroid> byDevice(const std::vector<Device>& transports,
                                      const QHash<QString, Identity>& identities) {
    const auto ready = [](const Device& d) { return d.state == QLatin1String("device"); };
    // Each Wi-Fi transport's USB transport, where it has one; grouped once: a server may list
    // thousands of transports.
    QHash<QString, std::vector<const Device*>> usbByNumber;
    for (const Device& t : transports) {
        if (const QString number = identities.value(t.serial).serialNumber;
            !number.isEmpty() && !isWifi(t))
            usbByNumber[number].push_back(&t);
    }
    QHash<QString, const Device*> anchorOf; // by transport: the USB transport of its device
    for (const Device& t : transports) {
        const Identity wifi = identities.value(t.serial);
        if (!isWifi(t) || wifi.serialNumber.isEmpty())
            continue;
        for (const Device* usb : usbByNumber.value(wifi.serialNumber)) {
            const QStringList own = identities.value(usb->serial).addresses;
            if (std::any_of(wifi.hostAddresses.begin(), wifi.hostAddresses.end(),
                            [&own](const QString& a) { return own.contains(a); })) {
                anchorOf.insert(t.serial, usb);
                break;
            }
        }
    }
    std::vector<AttachedAndroid> out;
    std::vector<QString> anchors;         // each device's USB transport, or its only one
    QHash<const Device*, std::size_t> at; // each anchor's device in OUT
    for (const Device& t : transports) {
        const Device* anchor = anchorOf.value(t.serial, &t);
        if (const auto found = at.constFind(anchor); found != at.cend()) {
            AttachedAndroid& device = out[*found];
            device.names << t.serial;
            if (isWifi(t) && device.wifiAddress.isEmpty())
                device.wifiAddress = t.serial;
            // Through USB while it is ready there; else through a ready Wi-Fi transport.
            if (!ready(device.via) && ready(t))
                device.via = t;
            continue;
        }
        at.insert(anchor, out.size());
        AttachedAndroid device{identities.value(anchor->serial).serialNumber,
                               t,
                               {t.serial},
                               isWifi(t) ? t.serial : QString(),
                               !isWifi(*anchor)};
        if (anchor != &t) {
            // Its Wi-Fi transport came first in the list: the device is its USB one's.
            device.via = ready(*anchor) || !ready(t) ? *anchor : t;
        }
        out.push_back(device);
        anchors.push_back(anchor->serial);
    }
    // Named by its serial number only where no other device gives the same one.
    QHash<QString, int> given;
    for (const AttachedAndroid& d : out)
        ++given[d.serial];
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i].serial.isEmpty() || given.value(out[i].serial) > 1)
            out[i].serial = anchors[i];
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
