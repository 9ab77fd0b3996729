// Parsers for what the adb server and Android devices print. Pure functions with no I/O: each
// takes text as a device wrote it (CRLF from a terminal, junk lines, a missing last newline)
// and returns what it could read, or nothing.
#pragma once

#include "device_link/device_facts.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace adb {

struct Device {
    QString serial;
    QString state;    // "device", "offline", "unauthorized", "no permissions", ...
    QString model;    // from "model:", underscores back to blanks; empty in the short form
    bool usb = false; // the long form names a USB port ("usb:1-1")
    bool operator==(const Device&) const = default;
};

// "host:devices" and "host:devices-l" lists, one device a line.
std::vector<Device> parseDeviceList(QStringView text);

// The lines of a device's output with line ends removed (LF or CRLF).
QStringList outputLines(QStringView text);

// A command's output cut at lines reading "::", the marker our combined commands print.
QStringList splitSections(QStringView text, int expected);

using device::ByteCounts;

// /proc/meminfo: MemTotal and MemAvailable in bytes; where MemAvailable is missing (kernels
// before 3.14), MemFree + Buffers + Cached.
std::optional<ByteCounts> parseMeminfo(QStringView text);

// "stat -f -c '%S %b %a %n %T' /data /" lines (block size, blocks, available blocks, then the
// mount and its file system's type); the first that reads wins.
std::optional<ByteCounts> parseStatFs(QStringView text);

// "df -k" output: the /data row, else the / row.
std::optional<ByteCounts> parseDfK(QStringView text);

// "dumpsys diskstats": the data partition's free and total space, from its "Data-Free" line.
std::optional<ByteCounts> parseDiskstats(QStringView text);

// A size as the old toolbox df prints it ("2.3G", "919.5M", "56G"): the bytes it stands for,
// rounded to a whole number; such a size is good to about 0.05 of its unit.
std::optional<double> parseRoundedSize(QStringView text);

// The old toolbox df, which prints every mount whatever its arguments: the /data row, else the
// / row, from its Size and Free columns.
std::optional<ByteCounts> parseToolboxDf(QStringView text);

struct StorageReading {
    ByteCounts counts;
    QString mount;        // "/data", or "/" where there is no /data; empty where unknown
    QString fileSystem;   // where the device names it ("f2fs")
    bool rounded = false; // from the old toolbox df's rounded sizes
};

// The storage command's whole output: stat -f, else df -k, else dumpsys diskstats, else the old
// toolbox df; exact sources before rounded ones.
std::optional<StorageReading> parseStorage(QStringView output);

// The processor type code for an ABI ("arm64-v8a") or, failing that, a machine name
// ("aarch64"). The x86 family gives 586; other processors give codes that name no processor
// the window knows; nothing known gives 0.
qint32 processorCode(QStringView abi, QStringView machine);

using device::PowerStatus;

// "dumpsys battery" plus the power-supply time_to_empty_now and time_to_full_now values.
std::optional<PowerStatus> parseBattery(QStringView dumpsys, QStringView timeToEmpty,
                                        QStringView timeToFull);

// 1 when any "... powered: true" line, 0 when all such lines are false, 255 with none.
qint32 parseMainsStatus(QStringView dumpsys);

// "wm size": the override size over the physical one; an invalid size when neither reads.
QSize parseWmSize(QStringView text);

// "dumpsys window" on devices before "wm size" (Android 4.3): the panel's size, or the
// override where one is set; an invalid size when neither reads.
QSize parseDumpsysWindowSize(QStringView text);

// The screen command's whole output: "wm size", else "dumpsys window".
QSize parseScreen(QStringView output);

// "settings get global device_name" then "getprop ro.product.model"; empty when neither names
// the device.
QString parseDeviceName(QStringView settingsOutput, QStringView modelOutput);

// The first non-loopback IPv4 address in "ip -f inet addr show", else a "src" in "ip route".
QString parseIpv4Address(QStringView ipAddr, QStringView ipRoute);

// The host part of a "HOST:PORT" serial (a device attached over the network), else empty.
QString networkSerialHost(QStringView serial);

} // namespace adb
