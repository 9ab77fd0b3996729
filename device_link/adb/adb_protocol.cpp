#include "device_link/adb/adb_protocol.h"

#include <QHostAddress>

namespace adb {
namespace {

constexpr quint16 kDefaultPort = 5037;

std::optional<qsizetype> hexLength(QByteArrayView four) {
    qsizetype value = 0;
    for (const char c : four) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

std::optional<quint16> parsePort(const QString& text) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

} // namespace

QByteArray encodeRequest(QByteArrayView service) {
    if (service.size() > kMaxPayload)
        return {};
    return QByteArray::number(service.size(), 16).rightJustified(4, '0') + service.toByteArray();
}

Payload decodeLengthPrefixed(QByteArrayView buffer) {
    if (buffer.size() < 4)
        return {};
    const std::optional<qsizetype> length = hexLength(buffer.first(4));
    if (!length)
        return {Decode::Malformed, 0, {}};
    if (buffer.size() < 4 + *length)
        return {};
    return {Decode::Complete, 4 + *length, buffer.sliced(4, *length).toByteArray()};
}

Status decodeStatus(QByteArrayView buffer) {
    if (buffer.size() < 4)
        return {};
    const QByteArrayView word = buffer.first(4);
    if (word == "OKAY")
        return {Decode::Complete, 4, true, {}};
    if (word != "FAIL")
        return {Decode::Malformed, 0, false, {}};
    const Payload message = decodeLengthPrefixed(buffer.sliced(4));
    if (message.status != Decode::Complete)
        return {message.status, 0, false, {}};
    return {Decode::Complete, 4 + message.consumed, false, QString::fromUtf8(message.data)};
}

std::optional<ServerAddress> parseSocketSpec(const QString& spec) {
    if (!spec.startsWith(QLatin1String("tcp:")))
        return std::nullopt;
    const QString rest = spec.mid(4);
    const qsizetype colon = rest.lastIndexOf(u':');
    if (colon < 0) {
        const auto port = parsePort(rest);
        return port ? std::optional(ServerAddress{QStringLiteral("localhost"), *port})
                    : std::nullopt;
    }
    QString host = rest.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    const auto port = parsePort(rest.mid(colon + 1));
    if (host.isEmpty() || !port)
        return std::nullopt;
    return ServerAddress{host, *port};
}

ServerAddress serverAddressFromEnvironment(const QProcessEnvironment& env) {
    if (const auto spec = parseSocketSpec(env.value(QStringLiteral("ADB_SERVER_SOCKET"))))
        return *spec;
    ServerAddress address{QStringLiteral("localhost"), kDefaultPort};
    const QString host = env.value(QStringLiteral("ANDROID_ADB_SERVER_ADDRESS"));
    if (!host.isEmpty())
        address.host = host;
    if (const auto port = parsePort(env.value(QStringLiteral("ANDROID_ADB_SERVER_PORT"))))
        address.port = *port;
    return address;
}

bool isLocalHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    return QHostAddress(host).isLoopback();
}

} // namespace adb
