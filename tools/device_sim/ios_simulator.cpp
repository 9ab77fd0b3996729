#include "ios_simulator.h"

#include "connections.h"
#include "device_profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <plist/plist.h>

namespace sim {
namespace {

constexpr quint16 kLockdownPort = 62078;
constexpr quint16 kDiagnosticsPort = 62079;
constexpr qsizetype kMaxMessage = 1 << 20;
const QString kTrustedHost = QStringLiteral("6F1C2C5E-8E33-4B7A-9D0B-3A1E2F4C5D6E");
const QString kOtherHost = QStringLiteral("0B5D3C2A-1F4E-4D6C-8A9B-7E6F5D4C3B2A");
const QString kBuid = QStringLiteral("4C3B2A1F-5D6E-4F7A-8B9C-0D1E2F3A4B5C");
// What lockdownd answers outside a session ("ideviceinfo -s"): a few values of the general
// domain, and the public key that pairing needs.
const QStringList kPublicKeys = {
    QStringLiteral("BuildVersion"),   QStringLiteral("DeviceClass"),
    QStringLiteral("DeviceName"),     QStringLiteral("DevicePublicKey"),
    QStringLiteral("ProductType"),    QStringLiteral("ProductVersion"),
    QStringLiteral("UniqueDeviceID"),
};

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using Plist = std::unique_ptr<void, PlistFree>;

// JSON to plist: integral numbers become integers, "data:BASE64" strings become data.
plist_t toPlist(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (d == double(qint64(d)))
            return plist_new_uint(quint64(qint64(d)));
        return plist_new_real(d);
    }
    case QJsonValue::String: {
        const QString s = value.toString();
        if (s.startsWith(QLatin1String("data:"))) {
            const QByteArray bytes = QByteArray::fromBase64(s.mid(5).toLatin1());
            return plist_new_data(bytes.constData(), quint64(bytes.size()));
        }
        return plist_new_string(s.toUtf8().constData());
    }
    case QJsonValue::Array: {
        plist_t array = plist_new_array();
        for (const QJsonValue& item : value.toArray())
            plist_array_append_item(array, toPlist(item));
        return array;
    }
    case QJsonValue::Object: {
        plist_t dict = plist_new_dict();
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), toPlist(it.value()));
        return dict;
    }
    default:
        return plist_new_string("");
    }
}

QByteArray toXml(plist_t plist) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(plist, &xml, &length);
    QByteArray out(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return out;
}

QString stringItem(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return QString();
    char* value = nullptr;
    plist_get_string_val(node, &value);
    const QString out = QString::fromUtf8(value);
    free(value);
    return out;
}

QByteArray dataItem(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_DATA)
        return QByteArray();
    char* bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &bytes, &length);
    const QByteArray out(bytes, qsizetype(length));
    free(bytes);
    return out;
}

quint64 uintItem(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    uint64_t value = 0;
    if (node && plist_get_node_type(node) == PLIST_UINT)
        plist_get_uint_val(node, &value);
    return value;
}

Plist parse(const QByteArray& bytes) {
    plist_t plist = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &plist);
    return Plist(plist);
}

} // namespace

std::optional<IosProfile> iosProfileFromJson(const QByteArray& json, QString* error) {
    const auto object = jsonObject(json, error);
    if (!object)
        return std::nullopt;
    const QJsonObject& o = *object;
    IosProfile profile;
    profile.udid = o.value(QStringLiteral("udid")).toString();
    profile.trust = o.value(QStringLiteral("trust")).toString(profile.trust);
    profile.latencyMs = o.value(QStringLiteral("latencyMs")).toInt();
    profile.sessionSsl = o.value(QStringLiteral("sessionSsl")).toBool(true);
    profile.domains = o.value(QStringLiteral("domains")).toObject();
    profile.registry = o.value(QStringLiteral("registry")).toObject();
    profile.registryBy = o.value(QStringLiteral("registryBy")).toString(profile.registryBy);
    if (profile.udid.isEmpty() || !profile.domains.contains(QString())) {
        if (error)
            *error = QStringLiteral("a profile needs a udid and a general domain (\"\")");
        return std::nullopt;
    }
    return profile;
}

IosSimulator::IosSimulator(IosProfile profile, QObject* parent)
    : IosSimulator(std::vector<IosProfile>{std::move(profile)}, parent) {}

IosSimulator::IosSimulator(std::vector<IosProfile> profiles, QObject* parent) : QObject(parent) {
    for (IosProfile& profile : profiles) {
        auto device = std::make_unique<Device>();
        Device& d = *device;
        d.id = quint32(m_devices.size() + 1);
        // The same profile twice is two devices: the later ones' UDIDs end in their number.
        for (const auto& other : m_devices) {
            if (other->profile.udid == profile.udid)
                profile.udid = profile.udid.chopped(2) +
                               QStringLiteral("%1").arg(d.id, 2, 16, QLatin1Char('0')).toUpper();
        }
        d.profile = std::move(profile);
        // One set of keys for every device here: three RSA keys a device would take seconds
        // for a usbmuxd with many devices behind it.
        static const Credentials shared = makeCredentials();
        d.credentials = shared;
        if (d.profile.trust == QLatin1String("trusted") ||
            d.profile.trust == QLatin1String("ssl")) {
            d.knownHostId = kTrustedHost;
            d.knownRoot = d.credentials.rootCertificate;
        } else if (d.profile.trust == QLatin1String("forgotten")) {
            d.knownHostId = kOtherHost;
        }
        m_devices.push_back(std::move(device));
    }
    connect(&m_server, &QTcpServer::newConnection, this, &IosSimulator::onNewConnection);
    m_clock.start();
}

IosSimulator::Device* IosSimulator::device(quint32 id) const {
    for (const auto& d : m_devices) {
        if (d->id == id)
            return d.get();
    }
    return nullptr;
}

IosSimulator::Device* IosSimulator::device(const QString& udid) const {
    for (const auto& d : m_devices) {
        if (d->profile.udid == udid)
            return d.get();
    }
    return nullptr;
}

IosSimulator::~IosSimulator() {
    for (const auto& connection : std::as_const(m_connections)) {
        if (connection->socket)
            connection->socket->disconnect(this);
    }
}

bool IosSimulator::listen(quint16 port) {
    return m_server.listen(QHostAddress::LocalHost, port);
}

QByteArray IosSimulator::pairRecord(const Device& d) const {
    if (!d.savedRecord.isEmpty())
        return d.savedRecord;
    // usbmuxd keeps a record only for devices this computer was paired with.
    if (d.profile.trust != QLatin1String("trusted") && d.profile.trust != QLatin1String("ssl") &&
        d.profile.trust != QLatin1String("forgotten"))
        return QByteArray();
    const Credentials& c = d.credentials;
    // A record the device no longer takes: the computer's root is not the one it was paired
    // with.
    const bool stale = d.profile.trust == QLatin1String("ssl");
    const auto data = [](const QByteArray& bytes) {
        return QString(QStringLiteral("data:") + QString::fromLatin1(bytes.toBase64()));
    };
    const QJsonObject record{
        {QStringLiteral("HostID"), kTrustedHost},
        {QStringLiteral("SystemBUID"), kBuid},
        {QStringLiteral("WiFiMACAddress"), QStringLiteral("f0:99:b6:1c:2a:3e")},
        {QStringLiteral("EscrowBag"), data("sim-escrow")},
        {QStringLiteral("DeviceCertificate"), data(c.deviceCertificate)},
        {QStringLiteral("HostCertificate"), data(c.hostCertificate)},
        {QStringLiteral("HostPrivateKey"), data(c.hostPrivateKey)},
        {QStringLiteral("RootCertificate"), data(stale ? c.hostCertificate : c.rootCertificate)},
        {QStringLiteral("RootPrivateKey"), data(stale ? c.hostPrivateKey : c.rootPrivateKey)}};
    Plist plist(toPlist(record));
    return toXml(plist.get());
}

QJsonObject IosSimulator::attachedMessage(const Device& d) const {
    const QJsonObject properties{{QStringLiteral("ConnectionType"), QStringLiteral("USB")},
                                 {QStringLiteral("DeviceID"), int(d.id)},
                                 {QStringLiteral("LocationID"), 0x14100000},
                                 {QStringLiteral("ProductID"), 0x12a8},
                                 {QStringLiteral("ConnectionSpeed"), 480000000},
                                 {QStringLiteral("SerialNumber"), d.profile.udid},
                                 {QStringLiteral("USBSerialNumber"), d.profile.udid}};
    return {{QStringLiteral("MessageType"), QStringLiteral("Attached")},
            {QStringLiteral("DeviceID"), int(d.id)},
            {QStringLiteral("Properties"), properties}};
}

QString IosSimulator::control(const QString& line) {
    // Controls act on the first device.
    Device& d = *m_devices.front();
    const QStringList words = line.trimmed().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QStringLiteral("error: empty line");
    const QString& verb = words.first();
    if (verb == QLatin1String("unlock")) {
        // Unlocking changes nothing usbmuxd knows: only asking again finds the prompt.
        if (d.profile.trust == QLatin1String("locked"))
            d.profile.trust = QStringLiteral("pending");
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("trust")) {
        // usbmuxd pairs on its own once the user trusts the computer, keeps the record, and
        // tells its listeners.
        d.profile.trust = QStringLiteral("trusted");
        d.knownHostId = kTrustedHost;
        d.knownRoot = d.credentials.rootCertificate;
        d.savedRecord.clear();
        pushToListeners({{QStringLiteral("MessageType"), QStringLiteral("Paired")},
                         {QStringLiteral("DeviceID"), int(d.id)}});
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("deny")) {
        d.profile.trust = QStringLiteral("denied");
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("unplug") || verb == QLatin1String("plug")) {
        d.plugged = verb == QLatin1String("plug");
        if (d.plugged) {
            pushToListeners(attachedMessage(d));
        } else {
            pushToListeners({{QStringLiteral("MessageType"), QStringLiteral("Detached")},
                             {QStringLiteral("DeviceID"), int(d.id)}});
            for (const auto& connection : std::as_const(m_connections)) {
                if (connection->device == &d && connection->socket)
                    connection->socket->abort();
            }
        }
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("close")) {
        // lockdownd ends its connections, as after a long idle: the device stays attached.
        for (const auto& connection : std::as_const(m_connections)) {
            if (connection->device == &d && connection->socket)
                connection->socket->abort();
        }
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("hang") || verb == QLatin1String("resume")) {
        d.hung = verb == QLatin1String("hang");
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("handshakes"))
        return QString::number(m_tlsSessions);
    if (verb == QLatin1String("count")) {
        QJsonObject counts;
        for (auto it = m_requestCounts.begin(); it != m_requestCounts.end(); ++it)
            counts.insert(it.key(), it.value());
        return QString::fromUtf8(QJsonDocument(counts).toJson(QJsonDocument::Compact));
    }
    if (verb == QLatin1String("set") && words.size() >= 3) {
        const QString value = line.trimmed().section(u' ', 2);
        QJsonObject general = d.profile.domains.value(QString()).toObject();
        QJsonObject battery =
            d.profile.domains.value(QStringLiteral("com.apple.mobile.battery")).toObject();
        if (words[1] == QLatin1String("battery.level"))
            battery.insert(QStringLiteral("BatteryCurrentCapacity"), value.toInt());
        else if (words[1] == QLatin1String("name"))
            general.insert(QStringLiteral("DeviceName"), value);
        else if (words[1] == QLatin1String("latencyMs"))
            d.profile.latencyMs = value.toInt();
        else
            return QStringLiteral("error: unknown setting");
        d.profile.domains.insert(QString(), general);
        d.profile.domains.insert(QStringLiteral("com.apple.mobile.battery"), battery);
        return QStringLiteral("ok");
    }
    return QStringLiteral("error: unknown control");
}

void IosSimulator::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        // usbmuxd's socket is a Unix one: no Nagle delay between a handshake's records.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        track(socket, m_connections, this, [this](QTcpSocket* s) { onReadyRead(s); });
    }
}

void IosSimulator::onReadyRead(QTcpSocket* socket) {
    const auto found = m_connections.value(socket);
    if (!found)
        return;
    Connection& c = *found;
    if (c.tls) {
        TlsServer::Fed fed = c.tls->feed(socket->readAll());
        socket->write(fed.toSend);
        if (fed.established)
            ++m_tlsSessions;
        if (fed.failed)
            return socket->disconnectFromHost(); // after the alert
        c.buffer += fed.plaintext;
        if (fed.closed) {
            // The session ended: lockdownd speaks plain text again.
            c.tls.reset();
            c.buffer += fed.after;
        }
    } else {
        c.buffer += socket->readAll();
    }
    if (c.buffer.size() > kMaxMessage)
        return socket->abort();
    for (;;) {
        if (c.lockdown) {
            if (c.buffer.size() < 4)
                return;
            const quint32 length = qFromBigEndian<quint32>(c.buffer.constData());
            if (length > kMaxMessage)
                return socket->abort();
            if (c.buffer.size() < 4 + qsizetype(length))
                return;
            const QByteArray body = c.buffer.mid(4, length);
            c.buffer.remove(0, 4 + length);
            if (c.diagnostics)
                handleDiagnostics(c, body);
            else
                handleLockdown(c, body);
        } else {
            if (c.buffer.size() < 16)
                return;
            const quint32 length = qFromLittleEndian<quint32>(c.buffer.constData());
            const quint32 version = qFromLittleEndian<quint32>(c.buffer.constData() + 4);
            const quint32 type = qFromLittleEndian<quint32>(c.buffer.constData() + 8);
            const quint32 tag = qFromLittleEndian<quint32>(c.buffer.constData() + 12);
            // Only the plist protocol: answering anything else would switch the library to
            // the old binary one.
            if (length < 16 || length > kMaxMessage || version != 1 || type != 8)
                return socket->abort();
            if (c.buffer.size() < qsizetype(length))
                return;
            const QByteArray body = c.buffer.mid(16, length - 16);
            c.buffer.remove(0, length);
            handleMux(c, tag, body);
        }
        if (!c.socket)
            return;
    }
}

void IosSimulator::sendMux(Connection& connection, quint32 tag, const QJsonObject& message,
                           const QHash<QString, QByteArray>& data) {
    if (!connection.socket)
        return;
    Plist plist(toPlist(message));
    for (auto it = data.begin(); it != data.end(); ++it)
        plist_dict_set_item(plist.get(), it.key().toUtf8().constData(),
                            plist_new_data(it.value().constData(), quint64(it.value().size())));
    const QByteArray xml = toXml(plist.get());
    QByteArray header(16, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(16 + xml.size()), header.data());
    qToLittleEndian<quint32>(1, header.data() + 4);
    qToLittleEndian<quint32>(8, header.data() + 8);
    qToLittleEndian<quint32>(tag, header.data() + 12);
    connection.socket->write(header + xml);
}

void IosSimulator::sendResult(Connection& connection, quint32 tag, int number) {
    sendMux(connection, tag,
            {{QStringLiteral("MessageType"), QStringLiteral("Result")},
             {QStringLiteral("Number"), number}});
}

void IosSimulator::pushToListeners(const QJsonObject& message) {
    for (const auto& connection : std::as_const(m_connections)) {
        if (connection->listening)
            sendMux(*connection, 0, message);
    }
}

void IosSimulator::handleMux(Connection& c, quint32 tag, const QByteArray& xml) {
    const Plist request = parse(xml);
    if (!request || plist_get_node_type(request.get()) != PLIST_DICT)
        return sendResult(c, tag, 1);
    const QString type = stringItem(request.get(), "MessageType");
    if (type == QLatin1String("ListDevices")) {
        QJsonArray list;
        for (const auto& d : m_devices) {
            if (d->plugged)
                list.append(attachedMessage(*d));
        }
        return sendMux(c, tag, {{QStringLiteral("DeviceList"), list}});
    }
    if (type == QLatin1String("Listen")) {
        sendResult(c, tag, 0);
        c.listening = true;
        for (const auto& d : m_devices) {
            if (d->plugged)
                sendMux(c, 0, attachedMessage(*d));
        }
        return;
    }
    if (type == QLatin1String("Connect")) {
        const quint16 port = qFromBigEndian(quint16(uintItem(request.get(), "PortNumber")));
        Device* d = device(quint32(uintItem(request.get(), "DeviceID")));
        const bool diagnostics = d && port == kDiagnosticsPort && !d->profile.registry.isEmpty();
        if (!d || !d->plugged || (port != kLockdownPort && !diagnostics))
            return sendResult(c, tag, 3); // connection refused
        sendResult(c, tag, 0);
        c.device = d;
        c.lockdown = true;
        c.diagnostics = diagnostics;
        return;
    }
    if (type == QLatin1String("ReadPairRecord")) {
        const Device* d = device(stringItem(request.get(), "PairRecordID"));
        const QByteArray record = d ? pairRecord(*d) : QByteArray();
        if (record.isEmpty())
            return sendResult(c, tag, 2);
        return sendMux(c, tag, {}, {{QStringLiteral("PairRecordData"), record}});
    }
    if (type == QLatin1String("SavePairRecord")) {
        Device* d = device(stringItem(request.get(), "PairRecordID"));
        plist_t data = plist_dict_get_item(request.get(), "PairRecordData");
        if (d && data && plist_get_node_type(data) == PLIST_DATA) {
            char* bytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(data, &bytes, &length);
            d->savedRecord = QByteArray(bytes, qsizetype(length));
            free(bytes);
        }
        return sendResult(c, tag, 0);
    }
    if (type == QLatin1String("ReadBUID"))
        return sendMux(c, tag, {{QStringLiteral("BUID"), kBuid}});
    sendResult(c, tag, 1);
}

void IosSimulator::handleLockdown(Connection& c, const QByteArray& xml) {
    Device& d = *c.device;
    const Plist request = parse(xml);
    if (!request || plist_get_node_type(request.get()) != PLIST_DICT) {
        if (c.socket)
            c.socket->abort();
        return;
    }
    const QString verb = stringItem(request.get(), "Request");
    const QString domain = stringItem(request.get(), "Domain");
    const QString key = stringItem(request.get(), "Key");
    m_requestCounts[verb + (domain.isEmpty() ? QString() : u' ' + domain)] += 1;
    if (d.hung)
        return;

    QJsonObject reply{{QStringLiteral("Request"), verb}};
    const auto fail = [&reply](const char* error) {
        reply.insert(QStringLiteral("Error"), QString::fromLatin1(error));
    };
    if (verb == QLatin1String("QueryType")) {
        reply.insert(QStringLiteral("Type"), QStringLiteral("com.apple.mobile.lockdown"));
    } else if (verb == QLatin1String("GetValue")) {
        if (!domain.isEmpty())
            reply.insert(QStringLiteral("Domain"), domain);
        if (!key.isEmpty())
            reply.insert(QStringLiteral("Key"), key);
        QJsonObject values = d.profile.domains.value(domain).toObject();
        if (!c.session) {
            QJsonObject open;
            for (const QString& name : kPublicKeys) {
                if (domain.isEmpty() && values.contains(name))
                    open.insert(name, values.value(name));
            }
            values = open;
        }
        const QJsonValue value = key.isEmpty() ? QJsonValue(values) : values.value(key);
        if (!c.session && (!domain.isEmpty() || (!key.isEmpty() && !kPublicKeys.contains(key))))
            fail("GetProhibited");
        else if (value.isUndefined() || (key.isEmpty() && values.isEmpty()))
            fail("MissingValue");
        else
            reply.insert(QStringLiteral("Value"), value);
    } else if (verb == QLatin1String("StartSession")) {
        if (stringItem(request.get(), "HostID") != d.knownHostId) {
            fail("InvalidHostID");
        } else {
            reply.insert(QStringLiteral("SessionID"), QStringLiteral("SIM-SESSION"));
            reply.insert(QStringLiteral("EnableSessionSSL"), d.profile.sessionSsl);
            c.session = true;
        }
    } else if (verb == QLatin1String("Pair")) {
        if (d.profile.trust == QLatin1String("pending"))
            fail("PairingDialogResponsePending");
        else if (d.profile.trust == QLatin1String("locked"))
            fail("PasswordProtected");
        else if (d.profile.trust == QLatin1String("denied"))
            fail("UserDeniedPairing");
        else {
            plist_t record = plist_dict_get_item(request.get(), "PairRecord");
            d.knownHostId = record ? stringItem(record, "HostID") : QString();
            d.knownRoot = record ? dataItem(record, "RootCertificate") : QByteArray();
            reply.insert(QStringLiteral("EscrowBag"), QStringLiteral("data:c2ltLWVzY3Jvdw=="));
        }
    } else if (verb == QLatin1String("StartService")) {
        const QString service = stringItem(request.get(), "Service");
        if (service != QLatin1String("com.apple.mobile.diagnostics_relay") ||
            d.profile.registry.isEmpty()) {
            fail("InvalidService");
        } else {
            reply.insert(QStringLiteral("Service"), service);
            reply.insert(QStringLiteral("Port"), int(kDiagnosticsPort));
        }
    } else if (verb == QLatin1String("StopSession")) {
        c.session = false;
    } else if (verb == QLatin1String("ValidatePair") || verb == QLatin1String("Goodbye")) {
        // Nothing to add.
    } else {
        fail("UnknownRequest");
    }

    this->reply(c, reply,
                verb == QLatin1String("StartSession") && d.profile.sessionSsl &&
                    !reply.contains(QStringLiteral("Error")));
}

void IosSimulator::handleDiagnostics(Connection& c, const QByteArray& xml) {
    const Device& d = *c.device;
    const Plist request = parse(xml);
    const QString verb = request ? stringItem(request.get(), "Request") : QString();
    const QString name = stringItem(request.get(), "EntryName");
    const QString entryClass = stringItem(request.get(), "EntryClass");
    // A registry query by what it asks for: "diagnostics IORegistry NAME/CLASS".
    m_requestCounts[QStringLiteral("diagnostics ") + verb +
                    (verb == QLatin1String("IORegistry")
                         ? QStringLiteral(" %1/%2").arg(name, entryClass)
                         : QString())] += 1;
    if (d.hung)
        return;
    QJsonObject answer{{QStringLiteral("Status"), QStringLiteral("Success")}};
    if (verb == QLatin1String("IORegistry")) {
        // The battery is an AppleSmartBattery, an IOPMPowerSource. From iOS 17.4 on a query
        // by name answers, successfully, with nothing.
        const bool byClass = entryClass == QLatin1String("IOPMPowerSource") ||
                             entryClass == QLatin1String("AppleSmartBattery");
        const bool byName = entryClass.isEmpty() && name == QLatin1String("AppleSmartBattery") &&
                            d.profile.registryBy != QLatin1String("class");
        answer.insert(QStringLiteral("Diagnostics"),
                      QJsonObject{{QStringLiteral("IORegistry"),
                                   byClass || byName ? d.profile.registry : QJsonObject()}});
    } else if (verb != QLatin1String("Goodbye"))
        answer.insert(QStringLiteral("Status"), QStringLiteral("UnknownRequest"));
    reply(c, answer);
}

void IosSimulator::reply(Connection& c, const QJsonObject& message, bool startsTls) {
    const Device& d = *c.device;
    Plist plist(toPlist(message));
    const QByteArray body = toXml(plist.get());
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(body.size()), frame.data());
    frame += body;
    const std::weak_ptr<Connection> connection = m_connections.value(c.socket);
    const auto send = [&d, connection, frame, startsTls] {
        const std::shared_ptr<Connection> to = connection.lock();
        if (!to || !to->socket)
            return;
        to->socket->write(to->tls ? to->tls->encrypt(frame) : frame);
        if (startsTls)
            to->tls = std::make_unique<TlsServer>(d.credentials.deviceCertificate,
                                                  d.credentials.devicePrivateKey, d.knownRoot);
    };
    if (d.profile.latencyMs <= 0)
        return send();
    const qint64 now = m_clock.elapsed();
    c.busyUntilMs = qMax(now, c.busyUntilMs) + d.profile.latencyMs;
    QTimer::singleShot(int(c.busyUntilMs - now), this, send);
}

} // namespace sim
