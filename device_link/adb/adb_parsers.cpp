#include "device_link/adb/adb_parsers.h"

#include "device_link/device_facts.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <cmath>

namespace adb {
namespace {

// A whole non-negative number as devices print them; nothing for anything else.
std::optional<double> wholeNumber(QStringView text) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > 127)
            return std::nullopt;
    }
    return text.toDouble();
}

// The value of "Key: value" lines, first occurrence, keys compared without case.
std::optional<QString> keyValue(const QStringList& lines, QStringView key) {
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        if (QStringView(line).left(colon).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

bool isIpv4(const QString& text) {
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    if (!dotted.match(text).hasMatch())
        return false;
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol;
}

bool usableIpv4(const QString& text) {
    return isIpv4(text) && !QHostAddress(text).isLoopback();
}

} // namespace

QStringList outputLines(QStringView text) {
    QStringList lines;
    for (QStringView line : text.split(u'\n')) {
        while (line.endsWith(u'\r'))
            line.chop(1);
        lines << line.toString();
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList splitSections(QStringView text, int expected) {
    QStringList sections(expected);
    int index = 0;
    for (const QString& line : outputLines(text)) {
        if (line.trimmed() == QLatin1String("::")) {
            if (++index >= expected)
                break;
            continue;
        }
        sections[index] += line + u'\n';
    }
    return sections;
}

std::vector<Device> parseDeviceList(QStringView text) {
    std::vector<Device> devices;
    for (const QString& line : outputLines(text)) {
        // "SERIAL\tSTATE", or with -l "SERIAL   STATE product:... model:... transport_id:N".
        const QStringList fields =
            line.split(QRegularExpression(QStringLiteral("[\\t ]+")), Qt::SkipEmptyParts);
        if (fields.size() < 2 || fields[0].startsWith(u'*') || fields[0] == QLatin1String("List"))
            continue;
        Device device;
        device.serial = fields[0];
        device.state = fields[1];
        // "no permissions (...); see [...]" and "no device" are states of more than one word.
        if (device.state == QLatin1String("no") && fields.size() > 2)
            device.state += u' ' + fields[2];
        for (const QString& field : fields.mid(2)) {
            if (field.startsWith(QLatin1String("model:")))
                device.model = field.mid(6).replace(u'_', u' ');
            else if (field.startsWith(QLatin1String("usb:")))
                device.usb = true;
        }
        devices.push_back(device);
    }
    return devices;
}

std::optional<ByteCounts> parseMeminfo(QStringView text) {
    const QStringList lines = outputLines(text);
    auto kib = [&](QStringView key) -> std::optional<double> {
        const auto value = keyValue(lines, key);
        if (!value)
            return std::nullopt;
        QString number = *value;
        if (number.endsWith(QLatin1String("kB"), Qt::CaseInsensitive))
            number.chop(2);
        const auto n = wholeNumber(number);
        return n ? std::optional(*n * 1024.0) : std::nullopt;
    };
    const auto total = kib(u"MemTotal");
    if (!total)
        return std::nullopt;
    if (const auto available = kib(u"MemAvailable"))
        return ByteCounts{*total, *available};
    const auto memFree = kib(u"MemFree");
    if (!memFree)
        return std::nullopt;
    return ByteCounts{*total, *memFree + kib(u"Buffers").value_or(0) + kib(u"Cached").value_or(0)};
}

namespace {

// A mount and its sizes, as one row of a listing gives them.
struct Row {
    QString mount;
    ByteCounts counts;
    bool rounded = false;
};

// "BLOCKSIZE BLOCKS AVAILABLE [MOUNT [TYPE]]", as our stat -f format prints it.
std::optional<Row> statFsRow(const QString& line) {
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return std::nullopt;
    const auto blockSize = wholeNumber(fields[0]);
    const auto blocks = wholeNumber(fields[1]);
    const auto available = wholeNumber(fields[2]);
    if (!blockSize || !blocks || !available || *blockSize <= 0 || *blocks <= 0)
        return std::nullopt;
    return Row{fields.value(3), {*blockSize * *blocks, *blockSize * *available}, false};
}

// "Filesystem 1K-blocks Used Available Use% Mounted-on".
std::optional<Row> dfKRow(const QString& line) {
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() < 6)
        return std::nullopt;
    const auto blocks = wholeNumber(fields[1]);
    const auto available = wholeNumber(fields[3]);
    if (!blocks || !available)
        return std::nullopt;
    return Row{fields.last(), {*blocks * 1024.0, *available * 1024.0}, false};
}

std::optional<Row> toolboxDfRow(const QString& line);

// The /data row of a listing of mounts, else the / row; rows that are no sizes, or sizes that
// cannot be, are passed over.
template <typename ParseRow> std::optional<Row> dataOrRoot(QStringView text, ParseRow parseRow) {
    std::optional<Row> root;
    for (const QString& line : outputLines(text)) {
        const auto row = parseRow(line);
        if (!row || row->counts.total <= 0 || row->counts.remaining > row->counts.total)
            continue;
        if (row->mount == QLatin1String("/data"))
            return row;
        if (row->mount == QLatin1String("/") && !root)
            root = row;
    }
    return root;
}

std::optional<ByteCounts> countsOf(const std::optional<Row>& row) {
    return row ? std::optional(row->counts) : std::nullopt;
}

} // namespace

std::optional<ByteCounts> parseStatFs(QStringView text) {
    for (const QString& line : outputLines(text)) {
        if (const auto row = statFsRow(line))
            return row->counts;
    }
    return std::nullopt;
}

std::optional<ByteCounts> parseDfK(QStringView text) {
    return countsOf(dataOrRoot(text, dfKRow));
}

std::optional<ByteCounts> parseDiskstats(QStringView text) {
    // "Data-Free: 1123448K / 2064208K total = 54% free", from Android 2.2 to today.
    static const QRegularExpression dataFree(
        QStringLiteral("^\\s*Data-Free:\\s*(\\d{1,15})K\\s*/\\s*(\\d{1,15})K total"));
    for (const QString& line : outputLines(text)) {
        const QRegularExpressionMatch m = dataFree.match(line);
        if (!m.hasMatch())
            continue;
        const double free = m.captured(1).toDouble() * 1024;
        const double total = m.captured(2).toDouble() * 1024;
        if (total > 0 && free <= total)
            return ByteCounts{total, free};
    }
    return std::nullopt;
}

std::optional<double> parseRoundedSize(QStringView text) {
    // Toolbox df: "919.5M", "2.3G", "56G", "0.0K"; powers of 1024.
    static const QRegularExpression size(QStringLiteral("^(\\d{1,12})(?:\\.(\\d{1,3}))?([KMGT])$"));
    const QRegularExpressionMatch m = size.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const double value = (m.captured(1) + u'.' + m.captured(2) + u'0').toDouble();
    const int power = int(QStringLiteral("KMGT").indexOf(m.captured(3))) + 1;
    return std::round(value * std::pow(1024.0, power));
}

namespace {

// One row of the old toolbox df: its mount and sizes, or nothing for a row that is none.
std::optional<Row> toolboxDfRow(const QString& line) {
    // Android 2.x: "/data: 1523712K total, 1212432K used, 311280K available (block size
    // 4096)", exact.
    static const QRegularExpression older(
        QStringLiteral("^(\\S+): (\\d{1,15})K total, \\d{1,15}K used, (\\d{1,15})K available"));
    if (const QRegularExpressionMatch m = older.match(line); m.hasMatch())
        return Row{m.captured(1),
                   {m.captured(2).toDouble() * 1024, m.captured(3).toDouble() * 1024},
                   false};
    // Later: "MOUNT  Size  Used  Free  Blksize"; a long mount pushes the numbers right, and rows
    // such as "/mnt/secure/asec: Permission denied" are no sizes at all.
    const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() != 5)
        return std::nullopt;
    const auto total = parseRoundedSize(fields[1]);
    const auto free = parseRoundedSize(fields[3]);
    if (!total || !free || !parseRoundedSize(fields[2]) || !wholeNumber(fields[4]))
        return std::nullopt;
    return Row{fields[0], {*total, *free}, true};
}

} // namespace

std::optional<ByteCounts> parseToolboxDf(QStringView text) {
    return countsOf(dataOrRoot(text, toolboxDfRow));
}

std::optional<StorageReading> parseStorage(QStringView output) {
    const QStringList parts = splitSections(output, 3);
    for (const QString& line : outputLines(parts[0])) {
        if (const auto row = statFsRow(line))
            return StorageReading{row->counts, row->mount,
                                  line.split(u' ', Qt::SkipEmptyParts).mid(4).join(u' '), false};
    }
    if (const auto row = dataOrRoot(parts[1], dfKRow))
        return StorageReading{row->counts, row->mount, QString(), false};
    if (const auto counts = parseDiskstats(parts[2]))
        return StorageReading{*counts, QStringLiteral("/data"), QString(), false};
    if (const auto row = dataOrRoot(parts[1], toolboxDfRow))
        return StorageReading{row->counts, row->mount, QString(), row->rounded};
    return std::nullopt;
}

qint32 processorCode(QStringView abi, QStringView machine) {
    const qint32 code = device::processorFamilyCode(abi);
    return code != 0 ? code : device::processorFamilyCode(machine);
}

std::optional<PowerStatus> parseBattery(QStringView dumpsys, QStringView timeToEmpty,
                                        QStringView timeToFull) {
    const QStringList lines = outputLines(dumpsys);
    const auto present = keyValue(lines, u"present");
    const auto status = keyValue(lines, u"status");
    const auto level = keyValue(lines, u"level");
    if (!present && !status && !level)
        return std::nullopt;

    PowerStatus power;
    std::optional<double> percent;
    if (level) {
        if (const auto raw = wholeNumber(*level)) {
            const auto scale = keyValue(lines, u"scale");
            const auto scaleValue = scale ? wholeNumber(*scale) : std::nullopt;
            const double divisor = scaleValue && *scaleValue > 0 ? *scaleValue : 100.0;
            percent = *raw * 100.0 / divisor;
        }
    }
    if (percent)
        power.percent = *percent;

    const bool absent =
        present && present->compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
    // BatteryManager.BATTERY_STATUS_CHARGING is 2.
    power.flag = device::batteryFlag(!absent, status && wholeNumber(*status) == 2.0, percent);

    // Several supplies may answer; the first positive value is the battery's.
    auto firstTime = [](QStringView text) -> std::optional<double> {
        for (const QString& line : outputLines(text)) {
            if (const auto seconds = wholeNumber(line); seconds && *seconds > 0)
                return seconds;
        }
        return std::nullopt;
    };
    power.lifeTime = firstTime(timeToEmpty).value_or(device::kUnknownTime);
    power.fullLifeTime = firstTime(timeToFull).value_or(device::kUnknownTime);
    return power;
}

qint32 parseMainsStatus(QStringView dumpsys) {
    bool any = false;
    for (const QString& line : outputLines(dumpsys)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QString key = line.left(colon).trimmed();
        static const QRegularExpression powered(QStringLiteral("^(AC|USB|Wireless|Dock) powered$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (!powered.match(key).hasMatch())
            continue;
        const QString value = line.mid(colon + 1).trimmed();
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return 1;
        if (value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            any = true;
    }
    return any ? 0 : 255;
}

QSize parseWmSize(QStringView text) {
    static const QRegularExpression size(
        QStringLiteral("^\\s*(Physical|Override) size:\\s*(\\d{1,6})x(\\d{1,6})\\s*$"));
    QSize physical;
    QSize override;
    for (const QString& line : outputLines(text)) {
        const QRegularExpressionMatch m = size.match(line);
        if (!m.hasMatch())
            continue;
        const QSize found(m.captured(2).toInt(), m.captured(3).toInt());
        (m.captured(1) == QLatin1String("Override") ? override : physical) = found;
    }
    return override.isValid() && !override.isEmpty() ? override : physical;
}

QSize parseDumpsysWindowSize(QStringView text) {
    // Android 4.0 to 4.2: "init=800x1280 base=800x1280 cur=1280x800 ..." (init is the panel,
    // base an override); 2.3 and 3.x: "DisplayWidth=480 DisplayHeight=800".
    static const QRegularExpression init(QStringLiteral("\\binit=(\\d{1,6})x(\\d{1,6})\\b"));
    static const QRegularExpression base(QStringLiteral("\\bbase=(\\d{1,6})x(\\d{1,6})\\b"));
    static const QRegularExpression older(
        QStringLiteral("\\bDisplayWidth=(\\d{1,6})\\s+DisplayHeight=(\\d{1,6})\\b"));
    const auto size = [](const QRegularExpressionMatch& m) {
        return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
    };
    QSize physical;
    QSize override;
    for (const QString& line : outputLines(text)) {
        if (!physical.isValid()) {
            physical = size(init.match(line));
            if (physical.isValid())
                override = size(base.match(line));
        }
        if (!physical.isValid())
            physical = size(older.match(line));
    }
    return override.isValid() && !override.isEmpty() ? override : physical;
}

QSize parseScreen(QStringView output) {
    const QStringList parts = splitSections(output, 2);
    const QSize size = parseWmSize(parts[0]);
    return size.isValid() ? size : parseDumpsysWindowSize(parts[1]);
}

QString parseDeviceName(QStringView settingsOutput, QStringView modelOutput) {
    for (QStringView output : {settingsOutput, modelOutput}) {
        const QStringList lines = outputLines(output);
        if (lines.isEmpty())
            continue;
        // The name is kept exactly as the device holds it, blanks included.
        const QString name = lines.first();
        if (name.trimmed().isEmpty() || name.trimmed() == QLatin1String("null"))
            continue;
        return name;
    }
    return QString();
}

QString parseIpv4Address(QStringView ipAddr, QStringView ipRoute) {
    static const QRegularExpression inet(QStringLiteral("^\\s*inet\\s+([0-9.]+)(/\\d+)?\\s"));
    for (const QString& line : outputLines(ipAddr)) {
        const QRegularExpressionMatch m = inet.match(line + u' ');
        if (m.hasMatch() && usableIpv4(m.captured(1)))
            return m.captured(1);
    }
    static const QRegularExpression src(QStringLiteral("\\bsrc\\s+([0-9.]+)"));
    for (const QString& line : outputLines(ipRoute)) {
        const QRegularExpressionMatch m = src.match(line);
        if (m.hasMatch() && usableIpv4(m.captured(1)))
            return m.captured(1);
    }
    return QString();
}

QString networkSerialHost(QStringView serial) {
    const qsizetype colon = serial.lastIndexOf(u':');
    if (colon <= 0)
        return QString();
    bool ok = false;
    const uint port = serial.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return QString();
    const QString host = serial.left(colon).toString();
    return isIpv4(host) ? host : QString();
}

} // namespace adb
