// Parsers for what Android devices print of their memory and storage. Pure functions with no
// I/O: each takes text as a device wrote it (CRLF from a terminal, junk lines, a missing last
// newline) and returns what it could read, or nothing.
#pragma once

#include "device_link/device_facts.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace adb {

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

} // namespace adb
