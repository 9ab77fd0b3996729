// Android devices over Wi-Fi, as Debian's adb server (29) reaches them: once over USB, a device
// asked to listen (tcpip:5555) is connected with host:connect until it restarts. And one device
// however it is attached: its identity is its serial number (ro.serialno), not the name of a
// transport, so that a phone over USB and over Wi-Fi is one.
#pragma once

#include "device_link/adb/adb_protocol.h"
#include "device_link/adb/adb_transport.h"
#include "device_link/adb/identity_parsers.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace adb {

inline constexpr quint16 kWifiPort = 5555;
// What connecting may take: the adb server waits for a TCP handshake that may never come.
inline const Limits kConnectLimits{.deadlineMs = 15000, .maxBytes = 4096};

// What one asks for pairing with a code gets instead.
QString pairingNote();

// "HOST" or "HOST:PORT" (an IPv4 address or a host name; 5555 by default) as host:connect takes
// it; empty, with why in ERROR, where it is neither.
QString wifiAddress(const QString& text, QString* error);

struct ConnectOutcome {
    enum Kind { Connected, AlreadyConnected, Refused, NoAnswer, Unauthorized, Failed };
    Kind kind = Failed;
    QString sentence; // for a person: what happened, and what to do
    bool connected() const { return kind == Connected || kind == AlreadyConnected; }
};

// What host:connect's REPLY for ADDRESS means.
ConnectOutcome connectOutcome(const QString& address, const QByteArray& reply);

// Connects the server to ADDRESS. A transport the server keeps offline there is let go first:
// Debian's adb server answers "already connected" to it, and never reaches the device anew.
// Blocking; never throws.
ConnectOutcome connectWifi(const ServerAddress& server, const QString& address,
                           const Limits& limits = kConnectLimits);

// Asks the device SERIAL to listen on PORT too; its answer ("restarting in TCP mode port:
// 5555"). Throws TransportError.
QString listenOnTcp(const ServerAddress& server, const QString& serial, quint16 port,
                    const Limits& limits);

// Whether a transport was made by host:connect: its name is the address it was connected to.
bool isWifi(const Device& transport);

// Who a transport's device says it is.
struct Identity {
    QString serialNumber;      // empty: none could be read
    QStringList addresses;     // its own, as "ip addr show" gives them
    QStringList hostAddresses; // a Wi-Fi transport's host, resolved
    QString name = {};         // its device_name setting, else its model; empty: none read
    bool operator==(const Identity&) const = default;
};

// The identity command's output.
Identity identityFrom(const QByteArray& output);

// TRANSPORT's identity, with a Wi-Fi transport's host resolved within 2 s. Blocking; none where
// the device cannot be asked (an unauthorized one).
Identity readIdentity(const ServerAddress& server, const Device& transport, const Limits& limits);

// What of KNOWN (by transport) still holds for TRANSPORTS: an identity read stays with its
// transport until the transport goes, whatever its state meanwhile, so that a cable on its way
// out, whose reads fail, never takes it away; one that could not be read stays only while its
// transport is ready, and is read again once it is ready anew.
QHash<QString, Identity> stillKnown(const QHash<QString, Identity>& known,
                                    const std::vector<Device>& transports);

// The ready USB transports whose addresses are read again once WIFI's identity is read: each
// gives its serial number, but WIFI's host is not among its addresses as last read, as for a
// device that joined the network after it was plugged in.
std::vector<Device> readAgainFor(const Device& wifi, const std::vector<Device>& transports,
                                 const QHash<QString, Identity>& identities);

// KNOWN, with the addresses of AGAIN, a read of the same transport, where it gave the same
// serial number.
Identity withAddressesOf(Identity known, const Identity& again);

// One device however it is attached.
struct AttachedAndroid {
    QString serial;      // its serial number, or a transport's name where that cannot stand
    Device via;          // the transport it is read through: USB while it has one that is ready
    QStringList names;   // every transport's name, for --serial
    QString wifiAddress; // where it is connected over Wi-Fi; empty: it is not
    bool usb = false;    // attached by a transport not made by host:connect
    bool operator==(const AttachedAndroid&) const = default;
};

// TRANSPORTS as devices, by what IDENTITIES (by transport name) say: a Wi-Fi transport is the
// device of a USB transport where both give one serial number and its host is one of the USB
// device's own addresses; any other transport is a device of its own. A device is known by its
// serial number where no other device gives it (cheap tablets all give one), else by its
// transport's name.
std::vector<AttachedAndroid> byDevice(const std::vector<Device>& transports,
                                      const QHash<QString, Identity>& identities);

// What DEVICE is called, as the window's title calls it: the name one of its transports gave
// with its identity, else the model the adb server lists.
QString deviceName(const AttachedAndroid& device, const QHash<QString, Identity>& identities);

// The serial number as getprop prints it; empty where it prints none, or something that is not
// one.
QString serialNumberFrom(const QByteArray& output);

} // namespace adb
