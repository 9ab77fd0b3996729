// Every device of either kind, listed and read once, side by side: what a report of all devices
// and the metrics exporter both take their readings from. Blocking, each device within its
// deadline and byte limit; never on a window's thread.
#pragma once

#include "device_link/adb/adb_protocol.h"
#include "device_link/adb/adb_transport.h"
#include "device_link/adb/identity_parsers.h"
#include "device_link/adb/wifi.h"
#include "device_link/device_reading.h"

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <vector>

#include "device_link/ios/ios_reader.h"

namespace survey {

// What one read of a device may take, as a window's query may.
inline constexpr int kDeadlineMs = 3000;
inline const adb::Limits kLimits{.deadlineMs = kDeadlineMs, .maxBytes = 1 << 20};

// One device as both kinds list it.
struct ListedDevice {
    QString serial; // an Android device's serial number, where it could be read; a UDID; ...
    DeviceKind kind = DeviceKind::Android;
    QString state; // "ready", "unauthorized", "offline", "trust", "locked", ...
    QString name;  // as the window's title names it; empty where none can be read yet
    // An Android device's: how it is attached ("usb" or "wifi"), the adb transport it is read
    // through, and where it is connected over Wi-Fi.
    QString transport = {};
    QString adbSerial = {};
    QString wifiAddress = {};
    // What the kind lists as its model: adb's for an Android device, UPower's; empty where
    // the listing gives none.
    QString model = {};
    bool operator==(const ListedDevice&) const = default;
};

inline bool isReady(const ListedDevice& device) {
    return device.state == QLatin1String("ready");
}

// What to do about DEVICE while it is not ready: the sentence the window's light says.
QString remedy(const ListedDevice& device);

// What every kind lists, Android first, then iPhones, then what UPower knows, and what reading
// an Android device takes.
struct Listing {
    std::vector<ListedDevice> devices;
    std::vector<adb::Device> android;
    QString androidError; // why the adb server gave no list; empty when it did
    // What UPower said of each device attached, by serial: its object path and properties. A
    // read takes it from here.
    QHash<QString, std::pair<QString, QVariantMap>> upower;
    QString upowerError; // why UPower could not be asked; empty when it could
    // The identities of the Android transports, by transport name: a caller that lists again
    // hands them back, and each is read once a connection.
    QHash<QString, adb::Identity> identities;
    // The iPhones' sessions that the listing found open or opened, by UDID: a read takes its
    // device's, and saves a handshake.
    QHash<QString, std::shared_ptr<ios::DeviceHandle>> sessions;
};

// Every kind. A local adb server that does not answer is started where MAY_START_SERVER. Only
// Android where ONLY names a device the adb server lists: asking an iPhone is a session
// handshake, and one that does not trust this computer yet would show its Trust prompt for
// nothing. KNOWN_IPHONES: what the caller knows of iPhones already, as ios::listDevices takes.
Listing list(const adb::ServerAddress& server, bool mayStartServer, const QString& only = {},
             const std::vector<ios::Listed>& knownIphones = {},
             const QHash<QString, adb::Identity>& knownIdentities = {});

// Reads TARGET, a ready device of LISTING, once; an Android device's battery health only
// WITH_HEALTH; an iPhone on SESSION where one is kept from an earlier read, else on the one its
// listing opened.
DeviceReading read(const adb::ServerAddress& server, const Listing& listing,
                   const ListedDevice& target, bool withHealth,
                   std::shared_ptr<ios::DeviceHandle> session);

// Lets every command of DEVICES reads run at once: a refresh's, the address and the health.
void reserveCommandThreads(std::size_t devices);

// Reads each of TARGETS side by side, every device's commands at once; in their order.
std::vector<DeviceReading> readAll(const adb::ServerAddress& server, const Listing& listing,
                                   const std::vector<ListedDevice>& targets,
                                   bool withHealth = true);

} // namespace survey
