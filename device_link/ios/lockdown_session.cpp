#include "device_link/ios/lockdown_session.h"

#include <libimobiledevice/diagnostics_relay.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>

namespace ios {
namespace {

const char* const kLabel = "device-info";

ReadError fromLockdown(lockdownd_error_t error) {
    switch (error) {
    case LOCKDOWN_E_SUCCESS:
        return ReadError::None;
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
        return ReadError::TrustPending;
    case LOCKDOWN_E_PASSWORD_PROTECTED:
        return ReadError::Locked;
    case LOCKDOWN_E_USER_DENIED_PAIRING:
        return ReadError::Denied;
    case LOCKDOWN_E_INVALID_HOST_ID:
        return ReadError::InvalidHostId;
    case LOCKDOWN_E_SSL_ERROR:
        return ReadError::Ssl;
    case LOCKDOWN_E_MUX_ERROR:
        return ReadError::NoDevice;
    default:
        return ReadError::Other;
    }
}

struct DeviceFree {
    void operator()(idevice_t d) const { idevice_free(d); }
};
struct LockdownFree {
    void operator()(lockdownd_client_t c) const { lockdownd_client_free(c); }
};
struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};

QVariantMap domainValues(lockdownd_client_t client, const char* domain) {
    plist_t raw = nullptr;
    if (lockdownd_get_value(client, domain, nullptr, &raw) != LOCKDOWN_E_SUCCESS)
        return {};
    const std::unique_ptr<void, PlistFree> value(raw);
    return toVariant(value.get()).toMap();
}

// The battery's IORegistry entry through the diagnostics relay, a service of its own that
// answers while lockdownd goes on with the domains.
QVariantMap batteryRegistry(diagnostics_relay_client_t relay) {
    // From iOS 17.4 on a query by name succeeds with an empty dictionary, where one by class
    // still answers: classes first, with no name (the library then leaves the key out), then
    // the names, AppleSmartBattery from the iPhone 8 on and AppleARMPMUCharger before it.
    struct Entry {
        const char* name;
        const char* entryClass;
    };
    static const Entry entries[] = {{nullptr, "IOPMPowerSource"},
                                    {nullptr, "AppleSmartBattery"},
                                    {"AppleSmartBattery", nullptr},
                                    {"AppleARMPMUCharger", nullptr}};
    for (const Entry& entry : entries) {
        plist_t result = nullptr;
        const diagnostics_relay_error_t error =
            diagnostics_relay_query_ioregistry_entry(relay, entry.name, entry.entryClass, &result);
        const std::unique_ptr<void, PlistFree> owned(result);
        if (error == DIAGNOSTICS_RELAY_E_MUX_ERROR)
            break; // the connection is gone: nothing more will answer
        QVariantMap found =
            toVariant(owned.get()).toMap().value(QStringLiteral("IORegistry")).toMap();
        if (!found.isEmpty())
            return found;
    }
    return {};
}

// Every domain on CLIENT's session, one round trip each, with REGISTRY run beside them.
Domains readDomains(lockdownd_client_t client, const std::function<QVariantMap()>& registry) {
    Domains domains;
    std::thread beside([&] { domains.batteryRegistry = registry(); });
    QVariantMap general = domainValues(client, nullptr);
    QVariantMap battery = domainValues(client, kBatteryDomain);
    QVariantMap disk = domainValues(client, kDiskDomain);
    QVariantMap itunes = domainValues(client, kITunesDomain);
    beside.join();
    domains.general = std::move(general);
    domains.battery = std::move(battery);
    domains.disk = std::move(disk);
    domains.itunes = std::move(itunes);
    return domains;
}

void closeRelay(diagnostics_relay_client_t relay) {
    if (!relay)
        return;
    diagnostics_relay_goodbye(relay);
    diagnostics_relay_client_free(relay);
}

struct RelayFree {
    void operator()(diagnostics_relay_client_t relay) const { closeRelay(relay); }
};
using Relay = std::unique_ptr<diagnostics_relay_client_private, RelayFree>;

// The diagnostics relay on CLIENT's session; none where the device has none.
Relay openRelay(idevice_t device, lockdownd_client_t client) {
    lockdownd_service_descriptor_t service = nullptr;
    if (lockdownd_start_service(client, DIAGNOSTICS_RELAY_SERVICE_NAME, &service) !=
        LOCKDOWN_E_SUCCESS)
        return nullptr;
    diagnostics_relay_client_t raw = nullptr;
    const bool opened =
        diagnostics_relay_client_new(device, service, &raw) == DIAGNOSTICS_RELAY_E_SUCCESS;
    lockdownd_service_descriptor_free(service);
    return Relay(opened ? raw : nullptr);
}

} // namespace

QVariant toVariant(plist_t node) {
    if (!node)
        return QVariant();
    // Through libplist's XML writer: its getters assert on a string or key with a NUL inside,
    // which a binary plist can carry, where the writer stops at the NUL.
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    const QByteArray text(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return fromPlistXml(text);
}

// Open until its session has said goodbye: the program lets that finish before it ends rather
// than cut the connection in the middle of it.
DeviceHandle::DeviceHandle(std::string udid)
    : m_udid(std::move(udid)), m_open(std::make_unique<device::BackgroundWork>()) {}

DeviceHandle::~DeviceHandle() {
    const auto close = [device = m_device, client = m_client, relay = m_relay] {
        closeRelay(relay);
        if (client)
            lockdownd_client_free(client);
        if (device)
            idevice_free(device);
    };
    if (!device::runInBackground(close)) // no thread to be had: close here
        close();
}

void DeviceHandle::dropSession() {
    closeRelay(m_relay);
    m_relay = nullptr;
    if (m_client)
        lockdownd_client_free(m_client);
    m_client = nullptr;
}

namespace {

using Device = std::unique_ptr<idevice_private, DeviceFree>;

Device openDevice(const std::string& udid) {
    idevice_t raw = nullptr;
    if (idevice_new_with_options(&raw, udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS)
        return nullptr;
    return Device(raw);
}

// The general domain on a plain connection, as "ideviceinfo -s" asks it.
QVariantMap publicValues(idevice_t device) {
    lockdownd_client_t plain = nullptr;
    if (lockdownd_client_new(device, &plain, kLabel) != LOCKDOWN_E_SUCCESS)
        return {};
    const std::unique_ptr<lockdownd_client_private, LockdownFree> client(plain);
    return domainValues(client.get(), nullptr);
}

} // namespace

QVariantMap publicValues(const std::string& udid) {
    const Device device = openDevice(udid);
    return device ? publicValues(device.get()) : QVariantMap();
}

Probe probe(DeviceHandle& handle) {
    Probe out;
    const std::unique_lock<std::mutex> kept(handle.m_mutex, std::try_to_lock);
    if (!kept.owns_lock() || handle.m_client)
        return out;
    if (!handle.m_device)
        handle.m_device = openDevice(handle.m_udid).release();
    if (!handle.m_device) {
        out.error = ReadError::NoDevice;
        return out;
    }
    out.name = deviceName(publicValues(handle.m_device));
    out.error = fromLockdown(
        lockdownd_client_new_with_handshake(handle.m_device, &handle.m_client, kLabel));
    if (out.error != ReadError::None)
        handle.dropSession();
    return out;
}

void readDevice(DeviceHandle& handle, const std::function<void(Reading)>& deliver) {
    Reading reading;
    // A read still stuck in the library holds the kept handle: this one makes its own.
    std::unique_lock<std::mutex> kept(handle.m_mutex, std::try_to_lock);
    if (kept.owns_lock() && handle.m_client) {
        // A session a probe opened has no relay yet.
        if (!handle.m_relay)
            handle.m_relay = openRelay(handle.m_device, handle.m_client).release();
        diagnostics_relay_client_t keptRelay = handle.m_relay;
        reading.domains = readDomains(handle.m_client, [keptRelay] {
            return keptRelay ? batteryRegistry(keptRelay) : QVariantMap();
        });
        if (!reading.domains.general.isEmpty()) {
            kept.unlock();
            return deliver(std::move(reading));
        }
        // The device closed the session (or went): a new one.
        handle.dropSession();
        reading = Reading();
    }
    std::unique_ptr<idevice_private, DeviceFree> own;
    idevice_t device = kept.owns_lock() ? handle.m_device : nullptr;
    if (!device) {
        idevice_t raw = nullptr;
        if (idevice_new_with_options(&raw, handle.m_udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS) {
            reading.error = ReadError::NoDevice;
            return deliver(std::move(reading));
        }
        // Kept, the handle remembers the system version, which spares the next handshake a
        // round trip.
        if (kept.owns_lock())
            handle.m_device = device = raw;
        else
            own.reset(device = raw);
    }
    lockdownd_client_t rawClient = nullptr;
    const lockdownd_error_t handshake =
        lockdownd_client_new_with_handshake(device, &rawClient, kLabel);
    if (handshake != LOCKDOWN_E_SUCCESS) {
        reading.error = fromLockdown(handshake);
        reading.detail = QStringLiteral("lockdown error %1").arg(int(handshake));
        return deliver(std::move(reading));
    }
    // Declared first so that it goes last: closing the session waits for the device.
    std::unique_ptr<lockdownd_client_private, LockdownFree> client(rawClient);
    Relay relay;
    lockdownd_service_descriptor_t service = nullptr;
    const bool relayed = lockdownd_start_service(client.get(), DIAGNOSTICS_RELAY_SERVICE_NAME,
                                                 &service) == LOCKDOWN_E_SUCCESS;
    reading.domains = readDomains(client.get(), [&]() -> QVariantMap {
        diagnostics_relay_client_t raw = nullptr;
        if (!relayed ||
            diagnostics_relay_client_new(device, service, &raw) != DIAGNOSTICS_RELAY_E_SUCCESS)
            return {};
        relay.reset(raw);
        return batteryRegistry(raw);
    });
    lockdownd_service_descriptor_free(service);
    if (reading.domains.general.isEmpty()) {
        reading.error = ReadError::Other;
        reading.detail = QStringLiteral("no values");
    } else if (kept.owns_lock()) {
        // Left open for the next read.
        handle.m_client = client.release();
        handle.m_relay = relay.release();
    }
    // The values are in: the window need not wait for a session to close, and the next read
    // may take the kept handle meanwhile.
    if (kept.owns_lock())
        kept.unlock();
    deliver(std::move(reading));
}

void readBattery(DeviceHandle& handle, const std::function<void(Reading)>& deliver) {
    {
        std::unique_lock<std::mutex> kept(handle.m_mutex, std::try_to_lock);
        if (kept.owns_lock() && handle.m_client) {
            if (!handle.m_relay)
                handle.m_relay = openRelay(handle.m_device, handle.m_client).release();
            Reading reading;
            diagnostics_relay_client_t relay = handle.m_relay;
            std::thread beside([&reading, relay] {
                if (relay)
                    reading.domains.batteryRegistry = batteryRegistry(relay);
            });
            reading.domains.battery = domainValues(handle.m_client, kBatteryDomain);
            beside.join();
            if (!reading.domains.battery.isEmpty()) {
                kept.unlock();
                return deliver(std::move(reading));
            }
            handle.dropSession(); // closed by the device, or gone: a new one below
        }
    }
    readDevice(handle, deliver);
}

} // namespace ios
