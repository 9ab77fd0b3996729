// What an iPhone's or iPad's lockdownd answers mean to the window. Pure functions: each takes a
// domain's dictionary as the device gave it (keys missing on older iOS, numbers where strings
// were expected, and the other way round) and returns the window's values, or nothing.
#pragma once

#include "device_link/device_details.h"
#include "device_link/device_facts.h"

#include <QSize>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace ios {

// The lockdownd domains one read of a device asks for, whole.
inline constexpr const char* kBatteryDomain = "com.apple.mobile.battery";
inline constexpr const char* kDiskDomain = "com.apple.disk_usage";
inline constexpr const char* kITunesDomain = "com.apple.mobile.iTunes";

// One read of a device: each domain's dictionary, and the battery's registry entry where the
// device gave one.
struct Domains {
    QVariantMap general; // the domain without a name
    QVariantMap battery;
    QVariantMap disk;
    QVariantMap itunes;
    QVariantMap batteryRegistry; // the battery's IORegistry entry; empty where none
};

// A plist's XML as Qt values: dictionaries (QVariantMap) and arrays (QVariantList) nest to a
// bounded depth and size, data becomes bytes, dates date-times, integers qlonglong (libplist
// writes a negative one as its unsigned 64-bit pattern; it comes back negative). Anything
// malformed ends the reading with what was read so far.
QVariant fromPlistXml(const QByteArray& xml);

// A number from a device value: integers, reals and numeric strings; nothing otherwise.
std::optional<double> number(const QVariant& value);
// A truth value: booleans, numbers (non-zero) and "true"/"false" strings; nothing otherwise.
std::optional<bool> truth(const QVariant& value);

// DeviceName; empty when the device names none.
QString deviceName(const QVariantMap& general);

// What to call the device: "iPad" where DeviceClass says so, else "iPhone".
QString kindWord(const QVariantMap& general);
// "phone", "tablet" or "media-player" (an iPod), as UPower names a type; empty for another.
QString typeWord(const QVariantMap& general);

// TotalDataCapacity and AmountDataAvailable (TotalDataAvailable only where that is missing:
// on iOS 17 it counts purgeable space and stands far above what is free).
std::optional<device::ByteCounts> storage(const QVariantMap& disk);

// The battery domain, with times from the battery registry where it gives them (minutes,
// 65535 for none); nothing when the domain says nothing of a battery.
std::optional<device::PowerStatus> power(const QVariantMap& battery, const QVariantMap& registry);

// The battery's health from its registry entry: NominalChargeCapacity (else
// AppleRawMaxCapacity) over DesignCapacity (which may stand inside BatteryData), all in mAh.
// Never MaxCapacity or CurrentCapacity, percentages on current iOS and mAh on older ones.
std::optional<device::BatteryCapacity> batteryCapacity(const QVariantMap& registry);

// ExternalConnected: 1 on mains, 0 not, 255 unknown.
qint32 mainsStatus(const QVariantMap& battery);

// ScreenWidth and ScreenHeight; an invalid size when either is missing or absurd.
QSize screenSize(const QVariantMap& itunes);

// CPUArchitecture ("arm64e", "armv7s") as a processor type code.
qint32 processorCode(const QVariantMap& general);

// What the domains say beyond the window's fields, a few lines a panel.
DeviceDetails details(const Domains& domains);

// ProductVersion ("17.5") and ProductType ("iPhone15,2"); empty where the device does not say.
struct SystemFacts {
    QString version;
    QString productType;
};
SystemFacts systemFacts(const QVariantMap& general);

// "iOS 17.5, model iPhone15,2" ("iPadOS" on an iPad from 13 on); empty when it names neither.
QString systemText(const QVariantMap& general);

} // namespace ios
