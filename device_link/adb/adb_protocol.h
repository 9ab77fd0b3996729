// The ADB host ("smart socket") protocol spoken to the adb server: request framing, status
// replies, length-prefixed payloads and where to find the server. Pure functions: decoders say
// how many bytes they used, so a reply split across reads is an ordinary case.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QProcessEnvironment>
#include <QString>

#include <optional>

namespace adb {

// The largest payload a four-hex-digit length can announce.
inline constexpr qsizetype kMaxPayload = 0xffff;

// "000chost:version" for "host:version". Services longer than kMaxPayload are refused (empty).
QByteArray encodeRequest(QByteArrayView service);

enum class Decode { NeedMore, Complete, Malformed };

struct Payload {
    Decode status = Decode::NeedMore;
    qsizetype consumed = 0;
    QByteArray data;
};

// Four hex digits of length, then that many bytes.
Payload decodeLengthPrefixed(QByteArrayView buffer);

struct Status {
    Decode status = Decode::NeedMore;
    qsizetype consumed = 0;
    bool okay = false;
    QString failure; // the server's message after FAIL
};

// "OKAY", or "FAIL" followed by a length-prefixed message.
Status decodeStatus(QByteArrayView buffer);

struct ServerAddress {
    QString host;
    quint16 port = 0;
    bool operator==(const ServerAddress&) const = default;
};

// "tcp:HOST:PORT", "tcp:PORT" or "tcp:[IPV6]:PORT"; nullopt for anything else.
std::optional<ServerAddress> parseSocketSpec(const QString& spec);

// As adb clients look for the server: ADB_SERVER_SOCKET, else ANDROID_ADB_SERVER_ADDRESS and
// ANDROID_ADB_SERVER_PORT, else localhost:5037.
ServerAddress serverAddressFromEnvironment(const QProcessEnvironment& env);

// Is the host this machine (so that starting a server here can help)?
bool isLocalHost(const QString& host);

} // namespace adb
