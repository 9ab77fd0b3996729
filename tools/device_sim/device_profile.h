// A simulated Android device: what it reports, read from a JSON profile, and a small shell that
// answers the commands a desktop sends the way a device's shell does.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <optional>

namespace sim {

struct Battery {
    bool present = true;
    int level = 100;
    int scale = 100;
    int status = 3; // 2 charging, 3 discharging, 5 full
    bool ac = false;
    bool usb = false;
    bool wireless = false;
    int tenthsCelsius = 286;           // as dumpsys battery prints its temperature
    std::optional<qint64> timeToEmpty; // seconds, where the power supply reports it
    std::optional<qint64> timeToFull;
    // What "dumpsys batterystats" says of its capacity, in mAh; unset: the line is left out.
    std::optional<double> estimatedMah; // the power profile's design figure
    std::optional<double> learnedMah;   // what the fuel gauge last learned
    // The power supply's current_now (µA, the maker's sign) and voltage_now (µV); unset: the
    // shell may not read them, as SELinux refuses on many devices.
    std::optional<qint64> currentNow;
    std::optional<qint64> voltageNow;
    std::optional<qint64> currentNowMa; // Samsung's "current now:" line in dumpsys battery
    // The charger's rating while plugged in, as dumpsys battery gives it.
    qint64 maxChargingCurrent = 500000;  // µA
    qint64 maxChargingVoltage = 5000000; // µV
};

struct Storage {
    qint64 blockSize = 4096;
    qint64 dataBlocks = 0, dataAvailable = 0;
    qint64 rootBlocks = 0, rootAvailable = 0;
    bool statFs = true;     // toybox stat -f; older devices have only df
    bool toolboxDf = false; // the old df: every mount, sizes rounded, whatever it is asked
    QString type;           // the data file system's, as stat -f names it
};

// What commands cost on the device: a phone's system services take tens of milliseconds.
struct Latency {
    int startMs = 0;              // adbd starting any command
    QMap<QString, int> commandMs; // by a command's leading words ("dumpsys battery", "settings")
};

struct DeviceProfile {
    QString product, model, device;
    bool terminal = false; // answers through a terminal: CRLF and no exec service
    // Asks the host to authenticate and never accepts, as a phone whose user has not allowed
    // USB debugging: the adb server then lists it as unauthorized.
    bool neverAuthorizes = false;
    QMap<QString, QString> properties;
    std::optional<QString> deviceName; // settings global device_name; unset prints "null"
    QString uname;
    QByteArray meminfo;
    QByteArray swaps;    // /proc/swaps after its header line
    QString cpusPresent; // /sys/devices/system/cpu/present
    Storage storage;
    Battery battery;
    QString physicalSize, overrideSize; // "1080x2400"
    bool wm = true;                     // the wm command (Android 4.3 and later)
    int density = 320, overrideDensity = 0;
    bool settings = true; // the settings command (Android 4.2 and later)
    QString address;      // wlan0's IPv4 address; empty: none
    Latency latency;

    // The CNXN banner: "device::ro.product.name=...;ro.product.model=...;...".
    QByteArray banner() const;
};

// A JSON document that must be an object; nullopt with a reason in error otherwise.
std::optional<QJsonObject> jsonObject(const QByteArray& json, QString* error);

// Reads a profile; nullopt with a reason in error when it is not one.
std::optional<DeviceProfile> profileFromJson(const QByteArray& json, QString* error = nullptr);

// Runs a command line as the device's shell would: ';'-separated commands, "||", "{ ...; }",
// "|" into "grep -m N 'TEXT'", "2>/dev/null", echo, and the commands a desktop asks about. Output
// ends lines with CRLF on a terminal.
QByteArray runShell(const DeviceProfile& profile, const QByteArray& commandLine);

// How long the device takes over a command line, in milliseconds.
int commandCostMs(const DeviceProfile& profile, const QByteArray& commandLine);

// A control line ("set battery.level 40", "set name Lab-07", ...) applied to the profile;
// false when it is not understood.
bool applySetting(DeviceProfile& profile, const QString& key, const QString& value);

} // namespace sim
