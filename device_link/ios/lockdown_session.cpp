#include "device_link/ios/lockdown_session.h"

#include <libimobiledevice/diagnostics_relay.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>

#include <QDateTime>

#include <cstdlib>
#include <limits>
#include <memory>

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

// The battery's IORegistry entry through the diagnostics relay, on the session already open.
QVariantMap batteryRegistry(idevice_t device, lockdownd_client_t client) {
    lockdownd_service_descriptor_t service = nullptr;
    if (lockdownd_start_service(client, DIAGNOSTICS_RELAY_SERVICE_NAME, &service) !=
        LOCKDOWN_E_SUCCESS)
        return {};
    diagnostics_relay_client_t relay = nullptr;
    const bool opened =
        diagnostics_relay_client_new(device, service, &relay) == DIAGNOSTICS_RELAY_E_SUCCESS;
    lockdownd_service_descriptor_free(service);
    if (!opened)
        return {};
    plist_t raw = nullptr;
    diagnostics_relay_query_ioregistry_entry(relay, "AppleSmartBattery", "", &raw);
    const std::unique_ptr<void, PlistFree> result(raw);
    diagnostics_relay_goodbye(relay);
    diagnostics_relay_client_free(relay);
    return convert(result.get(), 0).toMap().value(QStringLiteral("IORegistry")).toMap();
}

} // namespace

QVariant toVariant(plist_t node) {
    return convert(node, 0);
}

Reading readDevice(const std::string& udid) {
    Reading reading;
    idevice_t rawDevice = nullptr;
    if (idevice_new_with_options(&rawDevice, udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
        IDEVICE_E_SUCCESS) {
        reading.error = ReadError::NoDevice;
        return reading;
    }
    const std::unique_ptr<idevice_private, DeviceFree> device(rawDevice);
    lockdownd_client_t rawClient = nullptr;
    const lockdownd_error_t handshake =
        lockdownd_client_new_with_handshake(device.get(), &rawClient, kLabel);
    if (handshake != LOCKDOWN_E_SUCCESS) {
        reading.error = fromLockdown(handshake);
        reading.detail = QString::number(int(handshake));
        return reading;
    }
    std::unique_ptr<lockdownd_client_private, LockdownFree> client(rawClient);
    reading.domains.general = domainValues(client.get(), nullptr);
    if (reading.domains.general.isEmpty()) {
        reading.error = ReadError::Other;
        reading.detail = QStringLiteral("no values");
        return reading;
    }
    reading.domains.battery = domainValues(client.get(), kBatteryDomain);
    reading.domains.disk = domainValues(client.get(), kDiskDomain);
    reading.domains.itunes = domainValues(client.get(), kITunesDomain);
    reading.domains.batteryRegistry = batteryRegistry(device.get(), client.get());
    return reading;
}

} // namespace ios
