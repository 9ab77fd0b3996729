#include "device_link/ios/lockdown_session.h"

#include <libimobiledevice/diagnostics_relay.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>

#include <cstdlib>
#include <memory>
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

struct RelayFree {
    void operator()(diagnostics_relay_client_t r) const {
        diagnostics_relay_goodbye(r);
        diagnostics_relay_client_free(r);
    }
};
using Relay = std::unique_ptr<diagnostics_relay_client_private, RelayFree>;

// The battery's IORegistry entry through the diagnostics relay, a service of its own that
// answers while lockdownd goes on with the domains. The relay is left open for the caller to
// close once the reading is handed over.
QVariantMap batteryRegistry(idevice_t device, lockdownd_service_descriptor_t service,
                            Relay& relay) {
    diagnostics_relay_client_t raw = nullptr;
    if (diagnostics_relay_client_new(device, service, &raw) != DIAGNOSTICS_RELAY_E_SUCCESS)
        return {};
    relay.reset(raw);
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
            diagnostics_relay_query_ioregistry_entry(raw, entry.name, entry.entryClass, &result);
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

DeviceHandle::DeviceHandle(std::string udid) : m_udid(std::move(udid)) {}

DeviceHandle::~DeviceHandle() {
    if (m_device)
        idevice_free(m_device);
}

void readDevice(DeviceHandle& handle, const std::function<void(Reading)>& deliver) {
    Reading reading;
    // A read still stuck in the library holds the kept handle: this one makes its own.
    std::unique_lock<std::mutex> kept(handle.m_mutex, std::try_to_lock);
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
    const std::unique_ptr<lockdownd_client_private, LockdownFree> client(rawClient);
    Relay relay;
    std::thread registry;
    lockdownd_service_descriptor_t service = nullptr;
    if (lockdownd_start_service(client.get(), DIAGNOSTICS_RELAY_SERVICE_NAME, &service) ==
        LOCKDOWN_E_SUCCESS)
        registry = std::thread(
            [&] { reading.domains.batteryRegistry = batteryRegistry(device, service, relay); });
    QVariantMap general = domainValues(client.get(), nullptr);
    QVariantMap battery = domainValues(client.get(), kBatteryDomain);
    QVariantMap disk = domainValues(client.get(), kDiskDomain);
    QVariantMap itunes = domainValues(client.get(), kITunesDomain);
    if (registry.joinable())
        registry.join();
    lockdownd_service_descriptor_free(service);
    reading.domains.general = std::move(general);
    reading.domains.battery = std::move(battery);
    reading.domains.disk = std::move(disk);
    reading.domains.itunes = std::move(itunes);
    if (reading.domains.general.isEmpty()) {
        reading.error = ReadError::Other;
        reading.detail = QStringLiteral("no values");
    }
    // The values are in: the window need not wait for the session to close, and the next read
    // may take the kept handle meanwhile.
    if (kept.owns_lock())
        kept.unlock();
    deliver(std::move(reading));
}

} // namespace ios
