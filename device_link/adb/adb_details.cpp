#include "device_link/adb/adb_details.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_parsers.h"
#include "device_link/device_facts.h"

#include <QLocale>
#include <QRegularExpression>

namespace adb {
namespace {

// The processor command's parts (see adb::command::Processor).
enum ProcessorPart {
    Abi,
    Machine,
    AbiList,
    SocMaker,
    SocModel,
    CpusPresent,
    Release,
    Product,
    Characteristics
};

QString firstLine(const QString& text) {
    const QStringList lines = outputLines(text);
    return lines.isEmpty() ? QString() : device::printable(lines.first().trimmed(), 80);
}

// The parts that say something, joined.
QString joinPresent(QStringList parts, const QString& separator) {
    parts.removeAll(QString());
    return parts.join(separator);
}

QString bytes(double value) {
    return QLocale().toString(qlonglong(value)) + QStringLiteral(" bytes");
}

// "0-7" or "0-3,6-7" as /sys/devices/system/cpu/present lists the cores.
int coreCount(const QString& present) {
    static const QRegularExpression range(QStringLiteral("^(\\d{1,4})(?:-(\\d{1,4}))?$"));
    int count = 0;
    for (const QString& part : present.split(u',', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = range.match(part.trimmed());
        if (!m.hasMatch())
            return 0;
        const int from = m.captured(1).toInt();
        const int to = m.hasCaptured(2) ? m.captured(2).toInt() : from;
        if (to < from)
            return 0;
        count += to - from + 1;
    }
    return count;
}

QStringList processorDetails(const QStringList& parts, ProcessorFacts& facts) {
    QStringList lines;
    QString abis = firstLine(parts[AbiList]);
    if (abis.isEmpty())
        abis = firstLine(parts[Abi]);
    facts.abis = abis.split(u',', Qt::SkipEmptyParts);
    abis.replace(u',', QStringLiteral(", "));
    const QString machine = firstLine(parts[Machine]);
    if (const QString said = joinPresent({abis, machine}, QStringLiteral("; ")); !said.isEmpty())
        lines << said;
    const QString soc =
        joinPresent({firstLine(parts[SocMaker]), firstLine(parts[SocModel])}, QStringLiteral(" "));
    facts.systemOnChip = soc;
    if (!soc.isEmpty())
        lines << QStringLiteral("System on chip: %1").arg(soc);
    facts.cores = coreCount(firstLine(parts[CpusPresent]));
    if (facts.cores > 0)
        lines << (facts.cores == 1 ? QStringLiteral("1 core")
                                   : QStringLiteral("%1 cores").arg(facts.cores));
    return lines;
}

QString valueOf(const QStringList& lines, QStringView key) {
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(u':');
        if (colon > 0 && QStringView(line).left(colon).trimmed() == key)
            return line.mid(colon + 1).trimmed();
    }
    return QString();
}

QStringList powerDetails(const QString& dumpsys, BatteryFacts& facts) {
    const QStringList lines = outputLines(dumpsys);
    QStringList out;
    static const char* const healths[] = {"",         "Unknown", "Good",
                                          "Overheat", "Dead",    "Over voltage",
                                          "Failure",  "Cold"}; // BatteryManager.BATTERY_HEALTH_*
    bool ok = false;
    const int health = valueOf(lines, u"health").toInt(&ok);
    if (ok && health >= 1 && health <= 7) {
        facts.health = QLatin1String(healths[health]);
        out << QStringLiteral("Health: %1").arg(facts.health);
    }
    // Tenths of a degree; 0 is a battery that does not say, and past 100 °C none is real.
    const int tenths = valueOf(lines, u"temperature").toInt(&ok);
    if (ok && tenths != 0 && tenths > -400 && tenths < 1000) {
        facts.temperatureC = tenths / 10.0;
        out << QStringLiteral("Temperature: %1 °C").arg(*facts.temperatureC, 0, 'f', 1);
    }
    // Millivolts as a rule; some devices give volts, some microvolts.
    double volts = valueOf(lines, u"voltage").toDouble(&ok);
    if (ok && volts >= 100000)
        volts /= 1e6;
    else if (ok && volts >= 100)
        volts /= 1000;
    if (ok && volts >= 1 && volts < 100) {
        facts.voltageV = volts;
        out << QStringLiteral("Voltage: %1 V").arg(volts, 0, 'f', 2);
    }
    const QString technology = device::printable(valueOf(lines, u"technology"), 40);
    if (!technology.isEmpty())
        out << QStringLiteral("Technology: %1").arg(technology);
    QStringList supplies;
    for (const char* supply : {"AC", "USB", "Wireless", "Dock"}) {
        if (valueOf(lines, QString::fromLatin1(supply) + QStringLiteral(" powered"))
                .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            supplies << QString::fromLatin1(supply);
    }
    if (!supplies.isEmpty())
        out << QStringLiteral("Powered by %1").arg(supplies.join(QStringLiteral(", ")));
    return out;
}

QStringList memoryDetails(const QStringList& parts) {
    QStringList out;
    static const QRegularExpression kib(QStringLiteral("^\\s*(\\d{1,15})\\s*kB\\s*$"));
    const QStringList lines = outputLines(parts[0]);
    const QRegularExpressionMatch total = kib.match(valueOf(lines, u"SwapTotal"));
    const QRegularExpressionMatch free = kib.match(valueOf(lines, u"SwapFree"));
    if (total.hasMatch() && total.captured(1).toDouble() > 0) {
        QString line = QStringLiteral("Swap: %1").arg(bytes(total.captured(1).toDouble() * 1024));
        if (free.hasMatch())
            line += QStringLiteral(", %1 free").arg(bytes(free.captured(1).toDouble() * 1024));
        out << line;
    }
    QStringList zram;
    for (const QString& line : outputLines(parts[1])) {
        const QString device = line.section(u' ', 0, 0, QString::SectionSkipEmpty);
        if (device.contains(QLatin1String("zram")))
            zram << device::printable(device, 60);
    }
    if (!zram.isEmpty())
        out << QStringLiteral("Compressed in memory (zram): %1")
                   .arg(zram.join(QStringLiteral(", ")));
    return out;
}

QStringList storageDetails(const QString& output) {
    const auto storage = parseStorage(output);
    if (!storage || storage->mount.isEmpty())
        return {};
    QString where = QStringLiteral("Read from %1").arg(device::printable(storage->mount));
    if (!storage->fileSystem.isEmpty())
        where += QStringLiteral(" (%1)").arg(device::printable(storage->fileSystem, 40));
    QStringList out{where};
    if (storage->rounded)
        out << QStringLiteral("Rounded by the device's df, to about 0.05 of their unit");
    return out;
}

QStringList screenDetails(const QString& sizes, const QString& densities) {
    QStringList out;
    static const QRegularExpression size(
        QStringLiteral("^\\s*(Physical|Override) size:\\s*(\\d{1,6}x\\d{1,6})\\s*$"));
    static const QRegularExpression density(
        QStringLiteral("^\\s*(Physical|Override) density:\\s*(\\d{1,5})\\s*$"));
    const auto pair = [](const QString& text, const QRegularExpression& pattern) {
        QString physical, override;
        for (const QString& line : outputLines(text)) {
            const QRegularExpressionMatch m = pattern.match(line);
            if (m.hasMatch())
                (m.captured(1) == QLatin1String("Physical") ? physical : override) = m.captured(2);
        }
        return std::pair{physical, override};
    };
    const auto [physicalSize, overrideSize] = pair(splitSections(sizes, 1)[0], size);
    if (!overrideSize.isEmpty() && !physicalSize.isEmpty() && overrideSize != physicalSize)
        out << QStringLiteral("Shown at %1; the panel is %2").arg(overrideSize, physicalSize);
    const auto [physicalDpi, overrideDpi] = pair(densities, density);
    if (!physicalDpi.isEmpty())
        out << (!overrideDpi.isEmpty() && overrideDpi != physicalDpi
                    ? QStringLiteral("Density: %1 dpi (the panel's is %2 dpi)")
                          .arg(overrideDpi, physicalDpi)
                    : QStringLiteral("Density: %1 dpi").arg(physicalDpi));
    return out;
}

} // namespace

DeviceDetails parseDetails(const std::vector<QByteArray>& outputs) {
    const auto text = [&outputs](command::Refresh at) {
        return std::size_t(at) < outputs.size() ? QString::fromUtf8(outputs[at]) : QString();
    };
    DeviceDetails details;
    details.processor = processorDetails(splitSections(text(command::ProcessorAt), 9), details.cpu);
    const QStringList power = splitSections(text(command::PowerAt), 5);
    details.power = powerDetails(power[0], details.battery);
    device::PowerFlow flow = parsePowerFlow(power[0], power[3], power[4]);
    if (!flow.voltageV)
        flow.voltageV = details.battery.voltageV;
    addPowerFlow(details, flow, parseMainsStatus(power[0]) == 1);
    if (const auto status = parseBattery(power[0], power[1], power[2]);
        status && status->flag != 128 && status->percent <= 100)
        details.battery.percent = status->percent;
    const SystemFacts system = systemFacts(
        outputs.size() > command::ProcessorAt ? outputs[command::ProcessorAt] : QByteArray());
    details.system = {system.release, system.product, system.type};
    details.memory = memoryDetails(splitSections(text(command::MemoryAt), 2));
    details.storage = storageDetails(text(command::StorageAt));
    details.screen = screenDetails(text(command::ScreenAt), text(command::DensityAt));
    return details;
}

void addBatteryCapacity(DeviceDetails& details,
                        const std::optional<device::BatteryCapacity>& capacity) {
    details.battery.capacity = capacity;
    if (capacity)
        details.power << device::capacityText(*capacity);
}

SystemFacts systemFacts(const QByteArray& processorOutput) {
    const QStringList parts = splitSections(QString::fromUtf8(processorOutput), 9);
    // "tablet", or "tablet,nosdcard"; a phone's says "default", "phone" or nothing.
    const bool tablet = firstLine(parts[Characteristics]).split(u',').contains(u"tablet");
    const QString type = tablet                                ? QStringLiteral("tablet")
                         : processorOutput.trimmed().isEmpty() ? QString()
                                                               : QStringLiteral("phone");
    return {firstLine(parts[Release]), firstLine(parts[Product]), type};
}

QString systemText(const QByteArray& processorOutput) {
    const SystemFacts facts = systemFacts(processorOutput);
    QStringList said;
    if (!facts.release.isEmpty())
        said << QStringLiteral("Android %1").arg(facts.release);
    if (!facts.product.isEmpty())
        said << QStringLiteral("model %1").arg(facts.product);
    return said.join(QStringLiteral(", "));
}

} // namespace adb
