// The fixed commands the link runs on a device. Nothing a device sends ever becomes part of a
// command. Combined commands print "::" between their parts so that one round trip answers one
// query.
#pragma once

#include <QByteArray>

namespace adb::command {

inline const QByteArray Name =
    "settings get global device_name 2>/dev/null; echo ::; getprop ro.product.model";
inline const QByteArray Memory = "cat /proc/meminfo";
inline const QByteArray Storage =
    "stat -f -c '%S %b %a' /data / 2>/dev/null; echo ::; df -k /data / 2>/dev/null";
inline const QByteArray Processor = "getprop ro.product.cpu.abi; echo ::; uname -m";
inline const QByteArray Power =
    "dumpsys battery; echo ::; cat /sys/class/power_supply/*/time_to_empty_now 2>/dev/null; "
    "echo ::; cat /sys/class/power_supply/*/time_to_full_now 2>/dev/null";
inline const QByteArray Mains = "dumpsys battery";
inline const QByteArray Screen = "wm size";
inline const QByteArray Address = "ip -f inet addr show 2>/dev/null; echo ::; ip route 2>/dev/null";

} // namespace adb::command
