#include "device_link/device_facts.h"

#include <QLatin1String>
#include <QLocale>
#include <QString>

#include <cmath>

namespace device {

qint32 processorFamilyCode(QStringView name) {
    // Codes for processors the window has no name for; they stay outside its table.
    struct Family {
        const char* prefix;
        qint32 code;
    };
    static const Family families[] = {
        {"x86", 586},       {"i686", 586},      {"i586", 586},    {"i386", 586},
        {"arm64", 43620},   {"aarch64", 43620}, {"armeabi", 452}, {"armv", 452},
        {"riscv64", 20580}, {"mips64", 1028},   {"mips", 1026},
    };
    name = name.trimmed();
    if (name.isEmpty())
        return 0;
    for (const Family& family : families) {
        if (name.startsWith(QLatin1String(family.prefix), Qt::CaseInsensitive))
            return family.code;
    }
    return 0;
}

QString printable(QStringView text, qsizetype maxLength) {
    QString out;
    for (const QChar c : text.left(maxLength))
        out += c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                       c.isSurrogate()
                   ? u' '
                   : c;
    if (text.size() > maxLength)
        out += u'…';
    return out;
}

QStringView leftWhole(QStringView text, qsizetype maxUnits) {
    if (text.size() <= maxUnits)
        return text;
    return text.left(maxUnits > 0 && text[maxUnits - 1].isHighSurrogate() ? maxUnits - 1
                                                                          : maxUnits);
}

double batteryFlag(bool present, bool charging, std::optional<double> percent) {
    if (!present)
        return 128;
    if (charging)
        return 8;
    if (!percent)
        return 255;
    if (*percent <= 5)
        return 4;
    if (*percent <= 15)
        return 2;
    return 1;
}

std::optional<BatteryCapacity> batteryCapacity(std::optional<double> fullMah,
                                               std::optional<double> designMah) {
    if (!fullMah || !designMah || !(*designMah >= 300 && *designMah <= 50000))
        return std::nullopt;
    const double ratio = *fullMah / *designMah;
    if (!(ratio >= 0.2 && ratio <= 1.3))
        return std::nullopt;
    return BatteryCapacity{*fullMah, *designMah};
}

QString capacityText(const BatteryCapacity& capacity) {
    const QLocale locale;
    return QStringLiteral("Maximum capacity: %1% of its design (%2 of %3 mAh)")
        .arg(qRound(capacity.fullMah * 100 / capacity.designMah))
        .arg(locale.toString(qlonglong(std::llround(capacity.fullMah))),
             locale.toString(qlonglong(std::llround(capacity.designMah))));
}

DeviceValue report(const std::optional<ByteCounts>& counts, DeviceValue& total,
                   DeviceValue& remaining) {
    if (!counts)
        return DeviceValue(0.0);
    total = counts->total;
    remaining = counts->remaining;
    return DeviceValue(1.0);
}

DeviceValue report(const std::optional<PowerStatus>& power, DeviceValue& flag, DeviceValue& percent,
                   DeviceValue& lifeTime, DeviceValue& fullLifeTime) {
    if (!power)
        return DeviceValue(0.0);
    flag = power->flag;
    percent = power->percent;
    lifeTime = power->lifeTime;
    fullLifeTime = power->fullLifeTime;
    return DeviceValue(1.0);
}

} // namespace device
