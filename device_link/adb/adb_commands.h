// The fixed commands the link runs on a device. Nothing a device sends ever becomes part of a
// command. Combined commands print "::" between their parts so that one round trip answers one
// query; the mains status comes from the battery command's first part, so that a refresh runs
// each command once.
#pragma once

#include <QByteArray>

#include <vector>

namespace adb::command {

inline const QByteArray Name =
    "settings get global device_name 2>/dev/null; echo ::; getprop ro.product.model";
inline const QByteArray Memory = "cat /proc/meminfo; echo ::; cat /proc/swaps 2>/dev/null";
// Devices without toybox's stat -f (Android 5 and earlier) fall back to df, and dumpsys
// diskstats for the old toolbox df that prints rounded sizes; a device with stat -f runs nothing
// more.
inline const QByteArray Storage =
    "stat -f -c '%S %b %a %n %T' /data / 2>/dev/null || { echo ::; df -k /data / 2>/dev/null; "
    "echo ::; dumpsys diskstats 2>/dev/null; }";
// The processor, then what the details and the status say of the device: its ABIs, system on
// chip and cores, its system version, model code and whether it is a tablet. getprop is cheap;
// the command stays far below the slowest of a refresh.
inline const QByteArray Processor =
    "getprop ro.product.cpu.abi; echo ::; uname -m; echo ::; getprop ro.product.cpu.abilist; "
    "echo ::; getprop ro.soc.manufacturer; echo ::; getprop ro.soc.model; echo ::; "
    "cat /sys/devices/system/cpu/present 2>/dev/null; echo ::; "
    "getprop ro.build.version.release; echo ::; getprop ro.product.device; echo ::; "
    "getprop ro.build.characteristics";
// Then the battery's current and voltage, where the shell may read them: in the same round trip,
// so that a device that refuses them costs nothing more.
inline const QByteArray Power =
    "dumpsys battery; echo ::; cat /sys/class/power_supply/*/time_to_empty_now 2>/dev/null; "
    "echo ::; cat /sys/class/power_supply/*/time_to_full_now 2>/dev/null; echo ::; "
    "cat /sys/class/power_supply/battery/current_now 2>/dev/null; echo ::; "
    "cat /sys/class/power_supply/battery/voltage_now 2>/dev/null";
// "wm size" came with Android 4.3; before it, the window manager's dump tells.
inline const QByteArray Screen = "wm size 2>/dev/null || { echo ::; dumpsys window 2>/dev/null; }";
// For the details only: as slow as "wm size", so it runs beside it, not after it.
inline const QByteArray Density = "wm density 2>/dev/null";
inline const QByteArray Address = "ip -f inet addr show 2>/dev/null; echo ::; ip route 2>/dev/null";

// Who the device is, whichever transport it is attached by: its serial number, and its own
// addresses, which a Wi-Fi transport's host must be one of for the two to be one device; then
// the name its owner gave it, as the refresh reads it, so that every face names it alike.
inline const QByteArray Identity =
    "getprop ro.serialno; echo ::; ip addr show 2>/dev/null; echo ::; " + Name;

// The battery's health, read once a connection and never in a refresh: the batterystats dump
// is large and slow, so grep ends it on a broken pipe once both figures are out.
inline const QByteArray BatteryHealth =
    "dumpsys batterystats 2>/dev/null | grep -m 2 'battery capacity:'";

// What one refresh runs, side by side, in this order.
enum Refresh {
    NameAt,
    MemoryAt,
    StorageAt,
    ProcessorAt,
    PowerAt,
    ScreenAt,
    DensityAt,
    RefreshCount
};
inline const std::vector<QByteArray> RefreshSet{Name,  Memory, Storage, Processor,
                                                Power, Screen, Density};

} // namespace adb::command
