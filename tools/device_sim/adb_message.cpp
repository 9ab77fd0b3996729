#include "adb_message.h"

#include <QtEndian>

namespace sim {
namespace {

quint32 dataCheck(QByteArrayView data) {
    quint32 sum = 0;
    for (const char c : data)
        sum += quint8(c);
    return sum;
}

quint32 word(QByteArrayView buffer, int index) {
    return qFromLittleEndian<quint32>(buffer.data() + index * 4);
}

} // namespace

QByteArray encodeMessage(const Message& message) {
    QByteArray out(kHeaderSize, '\0');
    const quint32 words[] = {message.command,
                             message.arg0,
                             message.arg1,
                             quint32(message.data.size()),
                             dataCheck(message.data),
                             message.command ^ 0xffffffffu};
    for (int i = 0; i < 6; ++i)
        qToLittleEndian(words[i], out.data() + i * 4);
    return out + message.data;
}

Decoded decodeMessage(QByteArrayView buffer, quint32 maxPayload) {
    if (buffer.size() < kHeaderSize)
        return {};
    const quint32 command = word(buffer, 0);
    const quint32 length = word(buffer, 3);
    if (word(buffer, 5) != (command ^ 0xffffffffu) || length > maxPayload)
        return {Decode::Malformed, 0, {}};
    if (buffer.size() < kHeaderSize + qsizetype(length))
        return {};
    Message message{command, word(buffer, 1), word(buffer, 2),
                    buffer.sliced(kHeaderSize, length).toByteArray()};
    return {Decode::Complete, kHeaderSize + qsizetype(length), std::move(message)};
}

} // namespace sim
