// The device side of the ADB transport: 24-byte little-endian message headers and their data.
// Pure codec; the decoder says how many bytes it used, with NeedMore for a partial message.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace sim {

enum Command : quint32 {
    A_CNXN = 0x4e584e43,
    A_AUTH = 0x48545541,
    A_OPEN = 0x4e45504f,
    A_OKAY = 0x59414b4f,
    A_CLSE = 0x45534c43,
    A_WRTE = 0x45545257,
    A_STLS = 0x534c5453,
};

// AUTH message types (arg0).
inline constexpr quint32 kAuthToken = 1;
inline constexpr quint32 kAuthSignature = 2;
inline constexpr quint32 kAuthPublicKey = 3;

// Version 0x01000001 hosts no longer check data sums, older ones do; we always send them.
inline constexpr quint32 kVersion = 0x01000001;
inline constexpr quint32 kMaxPayload = 256 * 1024;
inline constexpr qsizetype kHeaderSize = 24;

struct Message {
    quint32 command = 0;
    quint32 arg0 = 0;
    quint32 arg1 = 0;
    QByteArray data;
};

QByteArray encodeMessage(const Message& message);

enum class Decode { NeedMore, Complete, Malformed };

struct Decoded {
    Decode status = Decode::NeedMore;
    qsizetype consumed = 0;
    Message message;
};

// Malformed: a magic that does not match the command, or data longer than maxPayload.
Decoded decodeMessage(QByteArrayView buffer, quint32 maxPayload = kMaxPayload);

} // namespace sim
