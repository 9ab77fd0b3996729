#include "device_link/survey.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_reading.h"
#include "device_link/adb/link_status.h"
#include "device_link/adb/server_starter.h"
#include "device_link/adb/wifi.h"
#include "device_link/ios/ios_reader.h"
#include "device_link/ios/ios_status.h"
#include "device_link/upower/upower_source.h"
#include "device_link/upower/upower_values.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <future>
#include <map>

namespace survey {
namespace {

QString androidState(const QString& adbState) {
    return adbState == QLatin1String("device") ? QStringLiteral("ready")
                                               : QString(adbState).replace(u' ', u'-');
}

// An iPhone's states as --list and the metrics name them; any other is "offline".
const std::pair<ios::ReadError, const char*> kIosStates[] = {
    {ios::ReadError::None, "ready"},
    {ios::ReadError::TrustPending, "trust"},
    {ios::ReadError::Locked, "locked"},
    {ios::ReadError::Denied, "denied"},
    {ios::ReadError::InvalidHostId, "untrusted"},
    {ios::ReadError::Ssl, "ssl-error"}};

QString iosState(ios::ReadError error) {
    for (const auto& [known, word] : kIosStates) {
        if (known == error)
            return QString::fromLatin1(word);
    }
    return QStringLiteral("offline");
}

// The adb server's list; as the window does, a local server that does not answer is started
// once.
std::vector<adb::Device> androidDevices(const adb::ServerAddress& server, bool mayStart,
                                        QString* why) {
    if (auto devices = adb::listDevices(server, kLimits, why))
        return *devices;
    if (!mayStart)
        return {};
    adb::ServerStarter starter(server, adb::ServerStarter::Lifetime::Daemon);
    if (starter.noneAnswers() == adb::ServerStarter::Outcome::Started &&
        starter.waitForStarted(10000)) {
        if (auto devices = adb::listDevices(server, kLimits, why)) {
            if (why) // the server started answers: the first try's failure is past
                why->clear();
            return *devices;
        }
    }
    return {};
}

// Whether TARGET is still there, and ready, as its kind lists it.
bool stillAttached(const adb::ServerAddress& server, const ListedDevice& target) {
    if (target.kind == DeviceKind::UPower)
        return true; // what UPower said is read as it is
    if (target.kind == DeviceKind::Apple) {
        const std::vector<QString> udids = ios::attachedUdids();
        return std::find(udids.begin(), udids.end(), target.serial) != udids.end();
    }
    const auto devices = adb::listDevices(server, kLimits, nullptr);
    return devices && std::any_of(devices->begin(), devices->end(), [&](const adb::Device& d) {
               return d.serial == target.adbSerial && d.state == QLatin1String("device");
           });
}

// Each transport's identity: those KNOWN that still hold, the others of ready transports read
// side by side.
QHash<QString, adb::Identity> identities(const adb::ServerAddress& server,
                                         const std::vector<adb::Device>& transports,
                                         const QHash<QString, adb::Identity>& known) {
    QHash<QString, adb::Identity> out = adb::stillKnown(known, transports);
    std::vector<std::pair<QString, QFuture<adb::Identity>>> reads;
    for (const adb::Device& d : transports) {
        if (d.state == QLatin1String("device") && !out.contains(d.serial))
            reads.emplace_back(d.serial, QtConcurrent::run(adb::readIdentity, server, d, kLimits));
    }
    for (auto& [serial, identity] : reads)
        out.insert(serial, identity.result());
    // A device that joined the network after it was plugged in says its new address again.
    std::map<QString, std::pair<adb::Device, QFuture<adb::Identity>>> again;
    for (const auto& read : reads) {
        const QString& serial = read.first;
        const auto wifi = std::find_if(transports.begin(), transports.end(),
                                       [&](const adb::Device& d) { return d.serial == serial; });
        for (const adb::Device& usb : adb::readAgainFor(*wifi, transports, out)) {
            if (!again.count(usb.serial))
                again.emplace(usb.serial, std::pair{usb, QtConcurrent::run(adb::readIdentity,
                                                                           server, usb, kLimits)});
        }
    }
    for (auto& [serial, read] : again)
        out.insert(serial, adb::withAddressesOf(out.value(serial), read.second.result()));
    return out;
}

} // namespace

QString remedy(const ListedDevice& device) {
    if (device.kind == DeviceKind::Android)
        return adb::remedy(QString(device.state).replace(u'-', u' '));
    ios::ReadError error = ios::ReadError::Other;
    for (const auto& [known, word] : kIosStates) {
        if (device.state == QLatin1String(word))
            error = known;
    }
    return ios::remedy({device.serial, error, QString()});
}

Listing list(const adb::ServerAddress& server, bool mayStartServer, const QString& only,
             const std::vector<ios::Listed>& knownIphones,
             const QHash<QString, adb::Identity>& knownIdentities) {
    Listing listing;
    QString why;
    listing.android = androidDevices(server, mayStartServer, &why);
    if (listing.android.empty() && !why.isEmpty())
        listing.androidError = QStringLiteral("no adb server answers at %1:%2 (%3)")
                                   .arg(server.host, QString::number(server.port), why);
    const bool androidOnly =
        !only.isEmpty() && std::any_of(listing.android.begin(), listing.android.end(),
                                       [&only](const adb::Device& d) { return d.serial == only; });
    listing.identities = identities(server, listing.android, knownIdentities);
    const std::vector<ios::Listed> apple =
        androidOnly ? std::vector<ios::Listed>() : ios::listDevices(kDeadlineMs, knownIphones);
    for (const adb::AttachedAndroid& d : adb::byDevice(listing.android, listing.identities))
        listing.devices.push_back({d.serial, DeviceKind::Android, androidState(d.via.state),
                                   adb::deviceName(d, listing.identities),
                                   d.usb ? QStringLiteral("usb") : QStringLiteral("wifi"),
                                   d.via.serial, d.wifiAddress, d.via.model});
    for (const ios::Listed& d : apple) {
        listing.devices.push_back({d.udid, DeviceKind::Apple, iosState(d.state), d.name});
        if (d.session)
            listing.sessions.insert(d.udid, d.session);
    }
    if (androidOnly)
        return listing;
    QSet<QString> othersShow; // UPower's idevice backend lists an iPhone by its UDID too
    for (const ListedDevice& d : listing.devices)
        othersShow.insert(d.serial);
    const upower::Devices peripherals = upower::snapshot(kDeadlineMs, &listing.upowerError);
    for (const upower::Attached& d : upower::attached(peripherals, othersShow)) {
        listing.devices.push_back({d.serial,
                                   DeviceKind::UPower,
                                   QStringLiteral("ready"),
                                   upower::name(d.properties),
                                   {},
                                   {},
                                   {},
                                   upower::model(d.properties)});
        listing.upower.insert(d.serial, {d.path, d.properties});
    }
    return listing;
}

DeviceReading read(const adb::ServerAddress& server, const Listing& listing,
                   const ListedDevice& target, bool withHealth,
                   std::shared_ptr<ios::DeviceHandle> session) {
    if (target.kind == DeviceKind::UPower) {
        const auto [path, properties] = listing.upower.value(target.serial);
        DeviceReading reading = upower::reading(path, properties);
        reading.serial = target.serial; // its path where another gives its serial too
        return reading;
    }
    const bool apple = target.kind == DeviceKind::Apple;
    adb::Device device;
    for (const adb::Device& d : listing.android) {
        if (d.serial == target.adbSerial)
            device = d;
    }
    if (apple && !session)
        session = listing.sessions.value(target.serial);
    DeviceReading reading = apple ? ios::readOnce(target.serial, kDeadlineMs, std::move(session))
                                  : adb::readOnce(server, device, kLimits, withHealth);
    // Its answers may all have come before it went; a device gone is not read.
    if (reading.error.isEmpty() && !stillAttached(server, target))
        reading.error = QStringLiteral("it went while it was read");
    reading.serial = target.serial;
    reading.transport = target.transport;
    reading.wifiAddress = target.wifiAddress;
    return reading;
}

void reserveCommandThreads(std::size_t devices) {
    adb::reserveCommandThreads(int(devices * (adb::command::RefreshSet.size() + 2)));
}

std::vector<DeviceReading> readAll(const adb::ServerAddress& server, const Listing& listing,
                                   const std::vector<ListedDevice>& targets, bool withHealth) {
    reserveCommandThreads(targets.size());
    std::vector<std::future<DeviceReading>> reads;
    for (const ListedDevice& target : targets)
        reads.push_back(std::async(std::launch::async, [&server, &listing, target, withHealth] {
            return read(server, listing, target, withHealth, nullptr);
        }));
    std::vector<DeviceReading> out;
    for (std::future<DeviceReading>& r : reads)
        out.push_back(r.get());
    return out;
}

} // namespace survey
