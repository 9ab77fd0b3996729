#include "device_link/device_kind.h"

QString kindName(DeviceKind kind) {
    return kind == DeviceKind::Android ? QStringLiteral("android") : QStringLiteral("ios");
}

std::optional<DeviceKind> kindFromName(QStringView word) {
    for (const DeviceKind kind : {DeviceKind::Android, DeviceKind::Apple}) {
        if (word == kindName(kind))
            return kind;
    }
    return std::nullopt;
}
