#include "device_link/ios/ios_values.h"

#include "device_link/device_facts.h"
#include "device_link/device_value.h"

#include <QDateTime>
#include <QLocale>
#include <QXmlStreamReader>

#include <cmath>

namespace ios {
namespace {

constexpr int kMaxDepth = 16;
constexpr int kMaxItems = 4096;

QVariant readValue(QXmlStreamReader& xml, int depth);

// The reader stands on a container's start tag; reads up to its end tag.
QVariant readContainer(QXmlStreamReader& xml, int depth, bool isDict) {
    QVariantMap map;
    QVariantList list;
    QString key;
    int items = 0;
    while (xml.readNextStartElement()) {
        if (isDict && xml.name() == QLatin1String("key")) {
            key = xml.readElementText();
            continue;
        }
        const QVariant value = readValue(xml, depth + 1);
        if (++items > kMaxItems)
            continue; // read past, not kept
        if (isDict)
            map.insert(key, value);
        else
            list.append(value);
    }
    return isDict ? QVariant(map) : QVariant(list);
}

QVariant readValue(QXmlStreamReader& xml, int depth) {
    const auto name = xml.name();
    if (name == QLatin1String("dict") || name == QLatin1String("array")) {
        if (depth > kMaxDepth) {
            xml.skipCurrentElement();
            return QVariant();
        }
        return readContainer(xml, depth, name == QLatin1String("dict"));
    }
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        const bool value = name == QLatin1String("true");
        xml.skipCurrentElement();
        return value;
    }
    const QString text = name == QLatin1String("string") || name == QLatin1String("integer") ||
                                 name == QLatin1String("real") || name == QLatin1String("data") ||
                                 name == QLatin1String("date")
                             ? xml.readElementText(QXmlStreamReader::SkipChildElements)
                             : (xml.skipCurrentElement(), QString());
    if (name == QLatin1String("string"))
        return text;
    if (name == QLatin1String("integer")) {
        bool ok = false;
        const qlonglong value = text.trimmed().toLongLong(&ok);
        if (ok)
            return value;
        const qulonglong unsignedValue = text.trimmed().toULongLong(&ok);
        return ok ? QVariant(qlonglong(unsignedValue)) : QVariant();
    }
    if (name == QLatin1String("real")) {
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        return ok ? QVariant(value) : QVariant();
    }
    if (name == QLatin1String("data"))
        return QByteArray::fromBase64(text.toLatin1());
    if (name == QLatin1String("date"))
        return QDateTime::fromString(text.trimmed(), Qt::ISODate);
    return QVariant();
}

} // namespace

QVariant fromPlistXml(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("plist") ||
        !reader.readNextStartElement())
        return QVariant();
    return readValue(reader, 0);
}

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

QString kindWord(const QVariantMap& general) {
    return general.value(QStringLiteral("DeviceClass")).toString() == QLatin1String("iPad")
               ? QStringLiteral("iPad")
               : QStringLiteral("iPhone");
}

QString typeWord(const QVariantMap& general) {
    const QString deviceClass = general.value(QStringLiteral("DeviceClass")).toString();
    if (deviceClass == QLatin1String("iPad"))
        return QStringLiteral("tablet");
    if (deviceClass == QLatin1String("iPod"))
        return QStringLiteral("media-player");
    return deviceClass == QLatin1String("iPhone") ? QStringLiteral("phone") : QString();
}

std::optional<device::ByteCounts> storage(const QVariantMap& disk) {
    const auto total = number(disk.value(QStringLiteral("TotalDataCapacity")));
    auto free = number(disk.value(QStringLiteral("AmountDataAvailable")));
    if (!free)
        free = number(disk.value(QStringLiteral("TotalDataAvailable")));
    // A capacity of nothing, or more free than there is, is no reading at all.
    if (!total || !free || *total <= 0 || *free < 0 || *free > *total)
        return std::nullopt;
    return device::ByteCounts{*total, *free};
}

std::optional<device::PowerStatus> power(const QVariantMap& battery, const QVariantMap& registry) {
    const auto hasBattery = truth(battery.value(QStringLiteral("HasBattery")));
    auto percent = number(battery.value(QStringLiteral("BatteryCurrentCapacity")));
    const auto charging = truth(battery.value(QStringLiteral("BatteryIsCharging")));
    const auto full = truth(battery.value(QStringLiteral("FullyCharged")));
    if (!hasBattery && !percent && !charging)
        return std::nullopt;
    if (percent && (*percent < 0 || *percent > 100))
        percent.reset();

    device::PowerStatus out;
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

std::optional<device::BatteryCapacity> batteryCapacity(const QVariantMap& registry) {
    auto design = number(registry.value(QStringLiteral("DesignCapacity")));
    if (!design)
        design = number(registry.value(QStringLiteral("BatteryData"))
                            .toMap()
                            .value(QStringLiteral("DesignCapacity")));
    auto full = number(registry.value(QStringLiteral("NominalChargeCapacity")));
    if (!full)
        full = number(registry.value(QStringLiteral("AppleRawMaxCapacity")));
    return device::batteryCapacity(full, design);
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

namespace {

QString text(const QVariantMap& domain, const char* key) {
    const QVariant value = domain.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? device::printable(value.toString().trimmed(), 60)
                                                : QString();
}

QString yesNo(bool value) {
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

// A signed register that arrives as 32 unsigned bits wraps: -500 mA comes as 4294966796.
std::optional<double> signedRegister(const QVariant& value) {
    const auto n = number(value);
    if (n && *n >= 2147483648.0 && *n < 4294967296.0)
        return *n - 4294967296.0;
    return n;
}

// The battery's current in mA and the adapter's watts, from its registry entry.
device::PowerFlow powerFlow(const Domains& d, std::optional<double> voltageV) {
    const QVariantMap& registry = d.batteryRegistry;
    auto milliamps = signedRegister(registry.value(QStringLiteral("InstantAmperage")));
    if (!milliamps)
        milliamps = signedRegister(registry.value(QStringLiteral("Amperage")));
    const auto status = power(d.battery, registry);
    const device::Flow flow = status && status->flag == 8   ? device::Flow::In
                              : mainsStatus(d.battery) == 0 ? device::Flow::Out
                                                            : device::Flow::AsSaid;
    device::PowerFlow out;
    if (milliamps)
        out.currentA = device::flowing(*milliamps / 1000, flow, device::kMostAmperes);
    out.voltageV = voltageV;
    const auto watts = number(
        registry.value(QStringLiteral("AdapterDetails")).toMap().value(QStringLiteral("Watts")));
    if (mainsStatus(d.battery) == 1)
        out.chargerW = device::chargerRating(watts);
    return out;
}

} // namespace

DeviceDetails details(const Domains& d) {
    DeviceDetails out;
    const QString arch = text(d.general, "CPUArchitecture");
    const QString hardware = text(d.general, "HardwareModel");
    if (!arch.isEmpty())
        out.cpu.abis << arch;
    if (!arch.isEmpty() || !hardware.isEmpty())
        out.processor << (hardware.isEmpty() ? arch
                          : arch.isEmpty()
                              ? QStringLiteral("Hardware model %1").arg(hardware)
                              : QStringLiteral("%1; hardware model %2").arg(arch, hardware));

    if (const auto full = truth(d.battery.value(QStringLiteral("FullyCharged"))))
        out.power << QStringLiteral("Fully charged: %1").arg(yesNo(*full));
    if (const auto capable = truth(d.battery.value(QStringLiteral("ExternalChargeCapable"))))
        out.power
            << QStringLiteral("Can charge from what it is plugged into: %1").arg(yesNo(*capable));
    if (const auto cycles = number(d.batteryRegistry.value(QStringLiteral("CycleCount")));
        cycles && *cycles >= 0 && *cycles < 100000) {
        out.battery.cycles = qint64(*cycles);
        out.power << QStringLiteral("Charge cycles: %1").arg(*out.battery.cycles);
    }
    out.battery.capacity = batteryCapacity(d.batteryRegistry);
    if (out.battery.capacity)
        out.power << device::capacityText(*out.battery.capacity);
    if (const auto status = power(d.battery, d.batteryRegistry);
        status && status->flag != 128 && status->percent <= 100)
        out.battery.percent = status->percent;
    const SystemFacts system = systemFacts(d.general);
    out.system = {system.version, system.productType, typeWord(d.general)};
    // Hundredths of a degree, millivolts.
    if (const auto hundredths = number(d.batteryRegistry.value(QStringLiteral("Temperature")));
        hundredths && *hundredths != 0 && *hundredths > -4000 && *hundredths < 10000) {
        out.battery.temperatureC = *hundredths / 100;
        out.power << QStringLiteral("Temperature: %1 °C").arg(*out.battery.temperatureC, 0, 'f', 1);
    }
    if (const auto millivolts = number(d.batteryRegistry.value(QStringLiteral("Voltage")));
        millivolts && *millivolts >= 1000 && *millivolts < 100000) {
        out.battery.voltageV = *millivolts / 1000;
        out.power << QStringLiteral("Voltage: %1 V").arg(*out.battery.voltageV, 0, 'f', 2);
    }
    addPowerFlow(out, powerFlow(d, out.battery.voltageV), mainsStatus(d.battery) == 1);
    if (const QString adapter =
            text(d.batteryRegistry.value(QStringLiteral("AdapterDetails")).toMap(), "Description");
        !adapter.isEmpty() && mainsStatus(d.battery) == 1)
        out.power << QStringLiteral("Charger: %1").arg(adapter);

    if (storage(d.disk)) {
        out.storage << QStringLiteral("Read from the data partition");
        if (const auto disk = number(d.disk.value(QStringLiteral("TotalDiskCapacity")));
            disk && *disk > 0)
            out.storage << QStringLiteral("The whole disk: %1 bytes")
                               .arg(QLocale().toString(qlonglong(*disk)));
    }
    if (const auto scale = number(d.itunes.value(QStringLiteral("ScreenScaleFactor")));
        scale && *scale > 0 && *scale <= 10)
        out.screen << QStringLiteral("Scale factor: %1 (points to pixels)").arg(*scale);
    return out;
}

SystemFacts systemFacts(const QVariantMap& general) {
    return {text(general, "ProductVersion"), text(general, "ProductType")};
}

QString systemText(const QVariantMap& general) {
    const auto [version, model] = systemFacts(general);
    QStringList said;
    if (!version.isEmpty()) {
        const bool ipados = text(general, "DeviceClass") == QLatin1String("iPad") &&
                            version.section(u'.', 0, 0).toInt() >= 13;
        said << (ipados ? QStringLiteral("iPadOS %1") : QStringLiteral("iOS %1")).arg(version);
    }
    if (!model.isEmpty())
        said << QStringLiteral("model %1").arg(model);
    return said.join(QStringLiteral(", "));
}

} // namespace ios
