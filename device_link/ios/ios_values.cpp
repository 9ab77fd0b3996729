#include "device_link/ios/ios_values.h"

#include "device_link/device_facts.h"
#include "device_link/device_value.h"

#include <cmath>

namespace ios {

std::optional<double> number(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return std::nullopt;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toDouble();
    case QMetaType::Double:
        if (std::isfinite(value.toDouble()))
            return value.toDouble();
        return std::nullopt;
    case QMetaType::QString: {
        double out = 0;
        if (parseDeviceNumber(value.toString(), out) && std::isfinite(out))
            return out;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<bool> truth(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    if (const auto n = number(value))
        return *n != 0;
    return std::nullopt;
}

QString deviceName(const QVariantMap& general) {
    const QVariant name = general.value(QStringLiteral("DeviceName"));
    return name.typeId() == QMetaType::QString ? name.toString() : QString();
}

std::optional<Storage> storage(const QVariantMap& disk) {
    const auto total = number(disk.value(QStringLiteral("TotalDataCapacity")));
    auto free = number(disk.value(QStringLiteral("AmountDataAvailable")));
    if (!free)
        free = number(disk.value(QStringLiteral("TotalDataAvailable")));
    // A capacity of nothing, or more free than there is, is no reading at all.
    if (!total || !free || *total <= 0 || *free < 0 || *free > *total)
        return std::nullopt;
    return Storage{*total, *free};
}

std::optional<Power> power(const QVariantMap& battery, const QVariantMap& registry) {
    const auto hasBattery = truth(battery.value(QStringLiteral("HasBattery")));
    auto percent = number(battery.value(QStringLiteral("BatteryCurrentCapacity")));
    const auto charging = truth(battery.value(QStringLiteral("BatteryIsCharging")));
    const auto full = truth(battery.value(QStringLiteral("FullyCharged")));
    if (!hasBattery && !percent && !charging)
        return std::nullopt;
    if (percent && (*percent < 0 || *percent > 100))
        percent.reset();

    Power out;
    // A full battery on mains is no longer charging, whatever the flag still says.
    const bool isCharging = charging.value_or(false) && !full.value_or(false);
    out.flag = device::batteryFlag(hasBattery.value_or(true), isCharging, percent);
    out.percent = percent.value_or(255);
    const auto minutes = [&registry](const char* key) {
        const auto value = number(registry.value(QLatin1String(key)));
        // 65535 is the registry's "none"; anything past a week is no estimate either.
        if (!value || *value <= 0 || *value >= 65535 || *value > 7 * 24 * 60)
            return device::kUnknownTime;
        return std::floor(*value) * 60;
    };
    out.lifeTime = minutes("AvgTimeToEmpty");
    out.fullLifeTime = minutes("AvgTimeToFull");
    return out;
}

qint32 mainsStatus(const QVariantMap& battery) {
    const auto external = truth(battery.value(QStringLiteral("ExternalConnected")));
    if (!external)
        return 255;
    return *external ? 1 : 0;
}

QSize screenSize(const QVariantMap& itunes) {
    const auto width = number(itunes.value(QStringLiteral("ScreenWidth")));
    const auto height = number(itunes.value(QStringLiteral("ScreenHeight")));
    const auto sensible = [](const std::optional<double>& v) {
        return v && *v >= 1 && *v <= 100000 && *v == std::floor(*v);
    };
    if (!sensible(width) || !sensible(height))
        return QSize();
    return QSize(int(*width), int(*height));
}

qint32 processorCode(const QVariantMap& general) {
    const QVariant arch = general.value(QStringLiteral("CPUArchitecture"));
    if (arch.typeId() != QMetaType::QString)
        return 0;
    return device::processorFamilyCode(arch.toString());
}

} // namespace ios
