// One synchronous exchange with the adb server over a short-lived connection, bounded by a
// deadline and a cap on what it reads. Nothing here runs an event loop, so nothing else the
// window does can happen while a query waits.
#pragma once

#include "device_link/adb/adb_protocol.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>
#include <vector>

namespace adb {

struct Limits {
    int deadlineMs = 3000;
    qsizetype maxBytes = 1 << 20;
};

// Why an exchange ended without an answer; message() is written for a person.
class TransportError : public std::runtime_error {
public:
    enum class Kind { Unreachable, TimedOut, Refused, Closed, TooLarge, Malformed };
    TransportError(Kind kind, const QString& message)
        : std::runtime_error(message.toStdString()), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Runs COMMAND on the device SERIAL ("exec:", falling back to "shell:" where a device refuses
// it) and returns everything it printed. Throws TransportError.
QByteArray runDeviceCommand(const ServerAddress& server, const QString& serial,
                            const QByteArray& command, const Limits& limits);

// Opens SERVICE ("tcpip:5555") on the device SERIAL and returns everything it answers. Throws
// TransportError.
QByteArray deviceService(const ServerAddress& server, const QString& serial,
                         const QByteArray& service, const Limits& limits);

struct CommandResult {
    QByteArray output;
    std::optional<TransportError> error; // set when the command gave no answer
};

// Runs every command on SERIAL side by side, each on its own connection to the server (which
// multiplexes them over the one device transport), all within one deadline; each keeps its own
// cap. Returns when the last one has ended; never throws.
std::vector<CommandResult> runDeviceCommands(const ServerAddress& server, const QString& serial,
                                             const std::vector<QByteArray>& commands,
                                             const Limits& limits);

// Lets COUNT commands run side by side (a report of many devices at once); the window's two sets
// of commands need no call.
void reserveCommandThreads(int count);
// How many may run side by side now.
int commandThreads();

// Sends a host service ("host:devices-l") and returns its length-prefixed answer.
QByteArray hostQuery(const ServerAddress& server, const QByteArray& service, const Limits& limits);

} // namespace adb
