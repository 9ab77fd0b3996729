#include "device_link/device_kind.h"

QString kindName(DeviceKind kind) {
    switch (kind) {
    case DeviceKind::Android:
        return QStringLiteral("android");
    case DeviceKind::Apple:
        return QStringLiteral("ios");
    case DeviceKind::UPower:
        break;
    }
    return QStringLiteral("upower");
}

std::optional<DeviceKind> kindFromName(QStringView word) {
    for (const DeviceKind kind : {DeviceKind::Android, DeviceKind::Apple, DeviceKind::UPower}) {
        if (word == kindName(kind))
            return kind;
    }
    return std::nullopt;
}
