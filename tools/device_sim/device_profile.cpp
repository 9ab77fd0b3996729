#include "device_profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <cmath>

namespace sim {
namespace {

struct Result;
Result runList(const DeviceProfile& profile, const QString& text);

QByteArray textOf(const QJsonValue& value) {
    if (value.isArray()) {
        QByteArray text;
        for (const QJsonValue& line : value.toArray())
            text += line.toString().toUtf8() + '\n';
        return text;
    }
    return value.toString().toUtf8();
}

QByteArray dumpsysBattery(const Battery& b) {
    auto flag = [](bool on) { return on ? "true" : "false"; };
    QByteArray out = "Current Battery Service state:\n";
    out += QByteArray("  AC powered: ") + flag(b.ac) + "\n";
    out += QByteArray("  USB powered: ") + flag(b.usb) + "\n";
    out += QByteArray("  Wireless powered: ") + flag(b.wireless) + "\n";
    const bool plugged = b.usb || b.ac || b.wireless;
    out +=
        "  Max charging current: " + QByteArray::number(plugged ? b.maxChargingCurrent : 0) + "\n";
    out +=
        "  Max charging voltage: " + QByteArray::number(plugged ? b.maxChargingVoltage : 0) + "\n";
    out += "  status: " + QByteArray::number(b.status) + "\n";
    out += "  health: 2\n";
    out += QByteArray("  present: ") + flag(b.present) + "\n";
    out += "  level: " + QByteArray::number(b.level) + "\n";
    out += "  scale: " + QByteArray::number(b.scale) + "\n";
    out += "  voltage: " + QByteArray(b.present ? "4123" : "0") + "\n";
    out += "  temperature: " + (b.present ? QByteArray::number(b.tenthsCelsius) : "0") + "\n";
    out += "  technology: " + QByteArray(b.present ? "Li-ion" : "") + "\n";
    if (b.currentNowMa)
        out += "  current now: " + QByteArray::number(*b.currentNowMa) + "\n";
    return out;
}

QByteArray dfLine(const char* device, qint64 blocks, qint64 available, qint64 blockSize,
                  const char* mount) {
    const qint64 kib = blocks * blockSize / 1024;
    const qint64 free = available * blockSize / 1024;
    const qint64 used = kib - free;
    const qint64 percent = kib > 0 ? (used * 100 + kib - 1) / kib : 0;
    return QStringLiteral("%1 %2 %3 %4 %5% %6\n")
        .arg(QLatin1String(device), -15)
        .arg(kib, 10)
        .arg(used, 9)
        .arg(free, 9)
        .arg(percent, 3)
        .arg(QLatin1String(mount))
        .toUtf8();
}

struct Result {
    QByteArray out;
    QByteArray err;
    int status = 0; // the exit status, as "||" sees it
};

Result notFound(const QString& command) {
    return {{}, "/system/bin/sh: " + command.toUtf8() + ": not found\n", 127};
}

// A size as the old toolbox df prints it: one decimal and a unit in powers of 1024.
QByteArray toolboxSize(qint64 kib) {
    double value = double(kib);
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QByteArray::number(value, 'f', 1) + "KMGT"[unit];
}

QByteArray toolboxDfRow(const QString& mount, qint64 blocks, qint64 available, qint64 blockSize) {
    const qint64 kib = blocks * blockSize / 1024;
    const qint64 free = available * blockSize / 1024;
    return QStringLiteral("%1 %2 %3 %4   %5\n")
        .arg(mount, -20)
        .arg(QString::fromLatin1(toolboxSize(kib)), 8)
        .arg(QString::fromLatin1(toolboxSize(kib - free)), 8)
        .arg(QString::fromLatin1(toolboxSize(free)), 8)
        .arg(blockSize)
        .toUtf8();
}

QByteArray toolboxDf(const Storage& s) {
    return "Filesystem               Size     Used     Free   Blksize\n" +
           toolboxDfRow(QStringLiteral("/dev"), 100150, 99611, 4096) +
           toolboxDfRow(QStringLiteral("/system"), s.rootBlocks, s.rootAvailable, s.blockSize) +
           toolboxDfRow(QStringLiteral("/data"), s.dataBlocks, s.dataAvailable, s.blockSize) +
           toolboxDfRow(QStringLiteral("/cache"), 110592, 109240, 4096) +
           "/mnt/secure/asec: Permission denied\n" +
           toolboxDfRow(QStringLiteral("/mnt/media_rw/sdcard0/external"), 2805248, 2691072, 4096);
}

QByteArray diskstats(const Storage& s) {
    const auto line = [](const char* name, qint64 blocks, qint64 available, qint64 blockSize) {
        const qint64 total = blocks * blockSize / 1024;
        const qint64 free = available * blockSize / 1024;
        return QByteArray(name) + "-Free: " + QByteArray::number(free) + "K / " +
               QByteArray::number(total) +
               "K total = " + QByteArray::number(total > 0 ? free * 100 / total : 0) + "% free\n";
    };
    return "Latency: 3ms [512B Data Write]\n" +
           line("Data", s.dataBlocks, s.dataAvailable, s.blockSize) +
           line("Cache", 110592, 109240, 4096) +
           line("System", s.rootBlocks, s.rootAvailable, s.blockSize);
}

// Android 4.0 to 4.2 as "dumpsys window" prints it, around the display's line.
QByteArray dumpsysWindow(const DeviceProfile& p) {
    const QByteArray physical = p.physicalSize.toUtf8();
    const QByteArray base = p.overrideSize.isEmpty() ? physical : p.overrideSize.toUtf8();
    const QList<QByteArray> sides = base.split('x');
    const QByteArray landscape = sides.size() == 2 ? sides[1] + 'x' + sides[0] : base;
    return "WINDOW MANAGER POLICY STATE (dumpsys window policy)\n"
           "    mSafeMode=false mSystemReady=true mSystemBooted=true\n"
           "WINDOW MANAGER WINDOWS (dumpsys window windows)\n"
           "  Window #0 Window{41a6e9c8 Keyguard paused=false}:\n"
           "    mBaseLayer=121000 mSubLayer=0 mAnimLayer=121000+0=121000 mLastLayer=0\n"
           "  mCurConfiguration={1.0 0mcc0mnc en_US sw800dp w1280dp h752dp xlrg land finger}\n"
           "  mDisplay=android.view.Display@41a9b3f0\n"
           "  init=" +
           physical + " base=" + base + " cur=" + landscape + " app=" + landscape +
           " rng=800x752-1280x1232\n"
           "  mDisplayFrozen=false\n";
}

// Android's batterystats dump: large, its capacity lines in the middle, as AOSP prints them.
QByteArray dumpsysBatterystats(const Battery& b) {
    QByteArray out = "Battery History (2% used, 9684 used of 512KB, 166 strings using 11346):\n"
                     "                    0 (15) RESET:TIME: 2026-12-06-08-12-40\n";
    // A day of history: what makes the real dump large and slow.
    for (int i = 0; i < 2000; ++i)
        out += "           +" + QByteArray::number(i * 43) + "s" + QByteArray::number(i % 1000) +
               "ms (2) " + QByteArray::number(100 - i / 40) +
               " c0900020 status=discharging health=good plug=none temp=286 volt=4123 "
               "charge=3890 +running +wake_lock +screen\n";
    out += "\nStatistics since last charge:\n"
           "  System starts: 0, currently on battery: true\n";
    const auto mah = [](double v) {
        // BatteryStatsHelper.makemAh: whole from 100 up.
        return v >= 100 ? QByteArray::number(v, 'f', 0) : QByteArray::number(v, 'f', 2);
    };
    if (b.estimatedMah && *b.estimatedMah > 0)
        out += "  Estimated battery capacity: " + mah(*b.estimatedMah) + " mAh\n";
    if (b.learnedMah && *b.learnedMah > 0) {
        out += "  Last learned battery capacity: " + mah(*b.learnedMah) + " mAh\n";
        out += "  Min learned battery capacity: " + mah(*b.learnedMah) + " mAh\n";
        out += "  Max learned battery capacity: " + mah(*b.learnedMah) + " mAh\n";
    }
    out += "  Time on battery: 5h 12m 3s 112ms (97.5%) realtime, 1h 2m 1s 4ms (19.9%) uptime\n"
           "  Total run time: 5h 20m 13s 2ms realtime, 1h 10m 4s 21ms uptime\n"
           "  Discharge: 1203 mAh\n"
           "  Screen off discharge: 312 mAh\n";
    for (int uid = 10000; uid < 10300; ++uid)
        out += "  u0a" + QByteArray::number(uid - 10000) + ":\n    Wake lock *job*/" +
               QByteArray::number(uid) + ": 1s 20ms partial (3 times) realtime\n";
    return out;
}

// "grep -m N 'TEXT'": the first N lines that hold TEXT, as a fixed string.
Result grep(const QStringList& argv, const QByteArray& input) {
    if (argv.size() != 4 || argv[1] != QLatin1String("-m"))
        return {{}, "grep: unsupported here\n", 2};
    const int most = argv[2].toInt();
    const QByteArray text = argv[3].toUtf8();
    QByteArray out;
    int found = 0;
    for (const QByteArray& line : input.split('\n')) {
        if (found >= most)
            break;
        if (line.contains(text)) {
            out += line + '\n';
            ++found;
        }
    }
    return {out, {}, found > 0 ? 0 : 1};
}

Result runOne(const DeviceProfile& p, const QStringList& argv) {
    const QString command = argv.join(u' ');
    if (argv.isEmpty())
        return {};
    if (argv[0] == QLatin1String("echo"))
        return {argv.mid(1).join(u' ').toUtf8() + '\n', {}};
    if (command == QLatin1String("true"))
        return {};
    if (argv[0] == QLatin1String("getprop") && argv.size() == 2)
        return {p.properties.value(argv[1]).toUtf8() + '\n', {}};
    if (command == QLatin1String("settings get global device_name")) {
        if (!p.settings) // the settings command came with Android 4.2
            return notFound(argv[0]);
        return {p.deviceName.value_or(QStringLiteral("null")).toUtf8() + '\n', {}};
    }
    if (command == QLatin1String("uname -m"))
        return {p.uname.toUtf8() + '\n', {}};
    if (command == QLatin1String("cat /proc/meminfo"))
        return {p.meminfo, {}};
    if (command == QLatin1String("cat /proc/swaps"))
        return {"Filename\t\t\t\tType\t\tSize\tUsed\tPriority\n" + p.swaps, {}};
    if (command == QLatin1String("cat /sys/devices/system/cpu/present"))
        return {p.cpusPresent.toUtf8() + '\n', {}};
    if (argv.size() >= 4 && argv[0] == QLatin1String("stat") && argv[1] == QLatin1String("-f")) {
        if (!p.storage.statFs)
            return {{}, "stat: Unknown option f\n", 1};
        QByteArray out;
        for (const QString& path : argv.mid(4)) {
            const bool data = path == QLatin1String("/data");
            out += QByteArray::number(p.storage.blockSize) + ' ' +
                   QByteArray::number(data ? p.storage.dataBlocks : p.storage.rootBlocks) + ' ' +
                   QByteArray::number(data ? p.storage.dataAvailable : p.storage.rootAvailable);
            if (argv[3].contains(QLatin1String("%n")))
                out += ' ' + path.toUtf8();
            if (argv[3].contains(QLatin1String("%T")))
                out += ' ' + (data ? p.storage.type : QStringLiteral("ext2/ext3")).toUtf8();
            out += '\n';
        }
        return {out, {}};
    }
    // The old toolbox df prints every mount, whatever it is asked.
    if (argv[0] == QLatin1String("df") && p.storage.toolboxDf)
        return {toolboxDf(p.storage), {}};
    if (argv.size() >= 2 && argv[0] == QLatin1String("df") && argv[1] == QLatin1String("-k")) {
        const Storage& s = p.storage;
        return {"Filesystem      1K-blocks     Used Available Use% Mounted on\n" +
                    dfLine("/dev/root", s.rootBlocks, s.rootAvailable, s.blockSize, "/") +
                    dfLine("/dev/block/dm-5", s.dataBlocks, s.dataAvailable, s.blockSize, "/data"),
                {}};
    }
    if (command == QLatin1String("dumpsys battery"))
        return {dumpsysBattery(p.battery), {}};
    if (command == QLatin1String("dumpsys batterystats"))
        return {dumpsysBatterystats(p.battery), {}};
    if (command == QLatin1String("dumpsys diskstats"))
        return {diskstats(p.storage), {}};
    if (command == QLatin1String("dumpsys window"))
        return {dumpsysWindow(p), {}};
    if (argv[0] == QLatin1String("cat") && argv.size() == 2 &&
        argv[1].startsWith(QLatin1String("/sys/class/power_supply/"))) {
        const QString file = argv[1].section(u'/', -1);
        const Battery& b = p.battery;
        const auto& value = file == QLatin1String("time_to_empty_now")  ? b.timeToEmpty
                            : file == QLatin1String("time_to_full_now") ? b.timeToFull
                            : file == QLatin1String("current_now")      ? b.currentNow
                                                                        : b.voltageNow;
        const bool guarded =
            file == QLatin1String("current_now") || file == QLatin1String("voltage_now");
        if (!value)
            return {{},
                    "cat: " + argv[1].toUtf8() +
                        (guarded ? ": Permission denied\n" : ": No such file or directory\n"),
                    1};
        return {QByteArray::number(*value) + '\n', {}};
    }
    if (command == QLatin1String("wm size")) {
        if (!p.wm) // the wm command came with Android 4.3
            return notFound(argv[0]);
        QByteArray out = "Physical size: " + p.physicalSize.toUtf8() + '\n';
        if (!p.overrideSize.isEmpty())
            out += "Override size: " + p.overrideSize.toUtf8() + '\n';
        return {out, {}};
    }
    if (command == QLatin1String("wm density")) {
        if (!p.wm)
            return notFound(argv[0]);
        QByteArray out = "Physical density: " + QByteArray::number(p.density) + '\n';
        if (p.overrideDensity > 0)
            out += "Override density: " + QByteArray::number(p.overrideDensity) + '\n';
        return {out, {}};
    }
    if (command == QLatin1String("ip -f inet addr show") ||
        command == QLatin1String("ip addr show")) {
        QByteArray out = "1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue state UNKNOWN "
                         "group default qlen 1000\n"
                         "    inet 127.0.0.1/8 scope host lo\n"
                         "       valid_lft forever preferred_lft forever\n";
        if (!p.address.isEmpty())
            out += "30: wlan0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc mq state UP "
                   "group default qlen 3000\n    inet " +
                   p.address.toUtf8() + "/24 scope global wlan0\n" +
                   "       valid_lft forever preferred_lft forever\n";
        return {out, {}};
    }
    if (command == QLatin1String("ip route")) {
        if (p.address.isEmpty())
            return {};
        const QString net = p.address.section(u'.', 0, 2) + QStringLiteral(".0/24");
        return {net.toUtf8() + " dev wlan0 proto kernel scope link src " + p.address.toUtf8() +
                    '\n',
                {}};
    }
    return notFound(argv[0]);
}

// Splits a command into words, honouring single quotes as a shell does.
QStringList words(const QString& command) {
    QStringList out;
    QString current;
    bool quoted = false, any = false;
    for (const QChar c : command) {
        if (c == u'\'') {
            quoted = !quoted;
            any = true;
        } else if (c.isSpace() && !quoted) {
            if (any)
                out << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        out << current;
    return out;
}

// Expands the one glob a desktop uses, over the supplies this device has.
QStringList expandSupplies(const QStringList& argv) {
    if (argv.size() == 2 && argv[1].contains(u'*'))
        return {argv[0], QString(argv[1]).replace(u'*', QStringLiteral("battery"))};
    return argv;
}

// Splits TEXT at SEPARATOR where it stands outside quotes and braces.
QStringList splitTopLevel(const QString& text, QStringView separator) {
    QStringList parts;
    qsizetype depth = 0, from = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && c == u'{')
            ++depth;
        else if (!quoted && c == u'}')
            --depth;
        else if (!quoted && depth == 0 && QStringView(text).mid(i).startsWith(separator)) {
            parts << text.mid(from, i - from);
            from = i + separator.size();
            i = from - 1;
        }
    }
    parts << text.mid(from);
    return parts;
}

// One command or a "{ ...; }" group, or a pipe into grep. Without a shell protocol stderr
// shares the stream.
Result runUnit(const DeviceProfile& profile, QString unit) {
    unit = unit.trimmed();
    if (unit.startsWith(u'{') && unit.endsWith(u'}'))
        return runList(profile, unit.mid(1, unit.size() - 2));
    // "||" was split before: what "|" remains is a pipe.
    if (const QStringList stages = splitTopLevel(unit, u"|"); stages.size() == 2) {
        const Result first = runUnit(profile, stages[0]);
        const QStringList argv = words(stages[1]);
        if (argv.value(0) != QLatin1String("grep"))
            return notFound(argv.value(0));
        return grep(argv, first.out);
    }
    const bool quiet = unit.contains(QLatin1String("2>/dev/null"));
    unit.remove(QLatin1String("2>/dev/null"));
    Result result = runOne(profile, expandSupplies(words(unit)));
    if (!quiet)
        result.out += result.err;
    result.err.clear();
    return result;
}

// "A || B || ...": each runs only when the one before it failed.
Result runOrList(const DeviceProfile& profile, const QString& text) {
    Result all;
    for (const QString& unit : splitTopLevel(text, u"||")) {
        const Result result = runUnit(profile, unit);
        all.out += result.out;
        all.status = result.status;
        if (result.status == 0)
            break;
    }
    return all;
}

Result runList(const DeviceProfile& profile, const QString& text) {
    Result all;
    for (const QString& statement : splitTopLevel(text, u";")) {
        if (statement.trimmed().isEmpty())
            continue;
        const Result result = runOrList(profile, statement);
        all.out += result.out;
        all.status = result.status;
    }
    return all;
}

} // namespace

QByteArray DeviceProfile::banner() const {
    return "device::ro.product.name=" + product.toUtf8() + ";ro.product.model=" + model.toUtf8() +
           ";ro.product.device=" + device.toUtf8() + ";features=cmd";
}

std::optional<QJsonObject> jsonObject(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject()) {
        if (error)
            *error = doc.isNull() ? parseError.errorString() : QStringLiteral("not an object");
        return std::nullopt;
    }
    return doc.object();
}

std::optional<DeviceProfile> profileFromJson(const QByteArray& json, QString* error) {
    const auto object = jsonObject(json, error);
    if (!object)
        return std::nullopt;
    const QJsonObject& o = *object;
    DeviceProfile p;
    p.product = o.value("product").toString();
    p.model = o.value("model").toString();
    p.device = o.value("device").toString();
    p.terminal = o.value("terminal").toBool();
    p.neverAuthorizes = o.value("authorization").toString() == QLatin1String("never");
    const QJsonObject props = o.value("properties").toObject();
    for (auto it = props.begin(); it != props.end(); ++it)
        p.properties.insert(it.key(), it.value().toString());
    if (o.value("deviceName").isString())
        p.deviceName = o.value("deviceName").toString();
    p.uname = o.value("uname").toString();
    p.meminfo = textOf(o.value("meminfo"));
    const QJsonObject s = o.value("storage").toObject();
    p.storage.blockSize = s.value("blockSize").toInteger(4096);
    p.storage.dataBlocks = s.value("dataBlocks").toInteger();
    p.storage.dataAvailable = s.value("dataAvailable").toInteger();
    p.storage.rootBlocks = s.value("rootBlocks").toInteger();
    p.storage.rootAvailable = s.value("rootAvailable").toInteger();
    p.storage.statFs = s.value("statFs").toBool(true);
    p.storage.toolboxDf = s.value("toolboxDf").toBool(false);
    p.storage.type = s.value("type").toString(QStringLiteral("ext4"));
    p.swaps = textOf(o.value("swaps"));
    p.cpusPresent = o.value("cpusPresent").toString(QStringLiteral("0-3"));
    const QJsonObject b = o.value("battery").toObject();
    p.battery.present = b.value("present").toBool(true);
    p.battery.level = b.value("level").toInt(100);
    p.battery.scale = b.value("scale").toInt(100);
    p.battery.status = b.value("status").toInt(3);
    p.battery.ac = b.value("ac").toBool();
    p.battery.usb = b.value("usb").toBool();
    p.battery.wireless = b.value("wireless").toBool();
    if (b.contains("timeToEmpty"))
        p.battery.timeToEmpty = b.value("timeToEmpty").toInteger();
    if (b.contains("timeToFull"))
        p.battery.timeToFull = b.value("timeToFull").toInteger();
    if (b.contains("estimatedMah"))
        p.battery.estimatedMah = b.value("estimatedMah").toDouble();
    if (b.contains("learnedMah"))
        p.battery.learnedMah = b.value("learnedMah").toDouble();
    for (const auto& [key, value] : {std::pair{"currentNow", &Battery::currentNow},
                                     std::pair{"voltageNow", &Battery::voltageNow},
                                     std::pair{"currentNowMa", &Battery::currentNowMa}}) {
        if (b.contains(QLatin1String(key)))
            p.battery.*value = b.value(QLatin1String(key)).toInteger();
    }
    p.battery.maxChargingCurrent = b.value("maxChargingCurrent").toInteger(500000);
    p.battery.maxChargingVoltage = b.value("maxChargingVoltage").toInteger(5000000);
    const QJsonObject screen = o.value("screen").toObject();
    p.physicalSize = screen.value("physical").toString();
    p.overrideSize = screen.value("override").toString();
    p.wm = screen.value("wm").toBool(true);
    p.density = screen.value("density").toInt(320);
    p.overrideDensity = screen.value("overrideDensity").toInt();
    p.settings = o.value("settings").toBool(true);
    p.address = o.value("address").toString();
    const QJsonObject latency = o.value("latency").toObject();
    p.latency.startMs = latency.value("start").toInt();
    const QJsonObject costs = latency.value("commands").toObject();
    for (auto it = costs.begin(); it != costs.end(); ++it)
        p.latency.commandMs.insert(it.key(), it.value().toInt());
    return p;
}

int commandCostMs(const DeviceProfile& profile, const QByteArray& commandLine) {
    int total = profile.latency.startMs;
    for (const QString& command : QString::fromUtf8(commandLine).split(u';')) {
        const QString words = command.simplified() + u' ';
        int cost = 0;
        qsizetype matched = 0;
        for (auto it = profile.latency.commandMs.begin(); it != profile.latency.commandMs.end();
             ++it) {
            if (it.key().size() > matched && words.startsWith(it.key() + u' ')) {
                matched = it.key().size();
                cost = it.value();
            }
        }
        total += cost;
    }
    return total;
}

QByteArray runShell(const DeviceProfile& profile, const QByteArray& commandLine) {
    QByteArray output = runList(profile, QString::fromUtf8(commandLine)).out;
    if (profile.terminal)
        output.replace("\n", "\r\n");
    return output;
}

bool applySetting(DeviceProfile& p, const QString& key, const QString& value) {
    bool ok = true;
    if (key == QLatin1String("battery.level")) {
        const int level = value.toInt(&ok);
        if (ok)
            p.battery.level = level;
    } else if (key == QLatin1String("battery.charging")) {
        const bool on = value == QLatin1String("1") || value == QLatin1String("true");
        p.battery.status = on ? 2 : 3;
        p.battery.usb = on;
    } else if (key == QLatin1String("battery.temperature")) { // in degrees Celsius
        const double celsius = value.toDouble(&ok);
        if (ok)
            p.battery.tenthsCelsius = int(std::lround(celsius * 10));
    } else if (key == QLatin1String("battery.current")) { // µA as sysfs gives it; "none": refused
        const qint64 micro = value.toLongLong(&ok);
        p.battery.currentNow =
            value == QLatin1String("none") ? std::nullopt : std::optional<qint64>(micro);
        ok = ok || value == QLatin1String("none");
    } else if (key == QLatin1String("battery.learned")) {
        const double mah = value.toDouble(&ok);
        if (ok)
            p.battery.learnedMah = mah;
    } else if (key == QLatin1String("name"))
        p.deviceName = value;
    else if (key == QLatin1String("address"))
        p.address = value == QLatin1String("none") ? QString() : value;
    else if (key.startsWith(QLatin1String("prop.")))
        p.properties.insert(key.mid(5), value);
    else
        return false;
    return ok;
}

} // namespace sim
