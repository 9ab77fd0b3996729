#include "device_link/ios/lockdown_session.h"

#include <libimobiledevice/diagnostics_relay.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>

#include <QDateTime>

#include <cstdlib>
#include <limits>
#include <memory>
#include <thread>

namespace ios {
namespace {

constexpr int kMaxDepth = 16;
constexpr quint32 kMaxItems = 4096;
constexpr uint64_t kMaxData = 1 << 20;
const char* const kLabel = "device-info";

QVariant convert(plist_t node, int depth) {
    if (!node || depth > kMaxDepth)
        return QVariant();
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // libplist 2.2 keeps every integer unsigned; the device's -1 arrives as 2^64 - 1.
        if (value > uint64_t(std::numeric_limits<qint64>::max()))
            return qlonglong(value);
        return qulonglong(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        char* value = nullptr;
        plist_get_string_val(node, &value);
        const QString text = QString::fromUtf8(value);
        std::free(value);
        return text;
    }
    case PLIST_DATA: {
        char* value = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &value, &length);
        const QByteArray bytes(value, qsizetype(qMin(length, kMaxData)));
        std::free(value);
        return bytes;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const quint32 size = qMin(plist_array_get_size(node), kMaxItems);
        for (quint32 i = 0; i < size; ++i)
            list.append(convert(plist_array_get_item(node, i), depth + 1));
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (quint32 i = 0; it && i < kMaxItems; ++i) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), convert(item, depth + 1));
            std::free(key);
        }
        std::free(it);
        return map;
    }
    default:
        return QVariant();
    }
}

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
    return convert(value.get(), 0).toMap();
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
    plist_t result = nullptr;
    diagnostics_relay_query_ioregistry_entry(raw, "AppleSmartBattery", "", &result);
    const std::unique_ptr<void, PlistFree> owned(result);
    return convert(owned.get(), 0).toMap().value(QStringLiteral("IORegistry")).toMap();
}

} // namespace

QVariant toVariant(plist_t node) {
    return convert(node, 0);
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
        reading.detail = QString::number(int(handshake));
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
