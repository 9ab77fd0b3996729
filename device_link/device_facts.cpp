#include "device_link/device_facts.h"

#include "device_link/device_details.h"

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
    // Whatever would move the cursor, hide itself or start a line is a blank; a character
    // outside the first plane (an emoji) is kept whole, and half of one is a blank.
    const auto shown = [](char32_t c) {
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return false;
        default:
            return true;
        }
    };
    const QStringView kept = leftWhole(text, maxLength);
    QString out;
    out.reserve(kept.size());
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const QChar c = kept[i];
        if (c.isHighSurrogate() && i + 1 < kept.size() && kept[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, kept[i + 1]);
            out += shown(code) ? kept.mid(i, 2).toString() : QStringLiteral(" ");
            ++i;
        } else {
            out += shown(c.unicode()) ? c : QChar(u' ');
        }
    }
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

std::optional<double> flowing(std::optional<double> value, Flow flow, double limit) {
    if (!value || !std::isfinite(*value) || std::abs(*value) > limit)
        return std::nullopt;
    if (*value == 0)
        return 0.0; // never -0
    switch (flow) {
    case Flow::In:
        return std::abs(*value);
    case Flow::Out:
        return -std::abs(*value);
    case Flow::AsSaid:
        break;
    }
    return value;
}

PowerFlow completed(PowerFlow flow) {
    if (flow.voltageV && *flow.voltageV > 0) {
        if (!flow.powerW && flow.currentA)
            flow.powerW = flowing(*flow.currentA * *flow.voltageV, Flow::AsSaid, kMostWatts);
        else if (!flow.currentA && flow.powerW)
            flow.currentA = flowing(*flow.powerW / *flow.voltageV, Flow::AsSaid, kMostAmperes);
    }
    return flow;
}

std::optional<double> chargerRating(std::optional<double> watts) {
    return watts && std::isfinite(*watts) && *watts >= 0.5 && *watts <= kMostWatts ? watts
                                                                                   : std::nullopt;
}

QString wattsText(double watts) {
    QString text = QString::number(std::round(watts * 10) / 10, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

QString flowWattsText(double watts) {
    return QString::number(std::abs(watts), 'f', 1) + QStringLiteral(" W");
}

bool draining(std::optional<double> currentA, std::optional<double> powerW, bool onMains) {
    return onMains && (powerW ? *powerW <= -kDrainWatts : currentA && *currentA <= -kDrainAmperes);
}

QString flowText(const PowerFlow& said, bool onMains) {
    const PowerFlow flow = completed(said);
    const auto watts = flowWattsText;
    const auto amps = [](double a) { return QString::number(std::abs(a), 'f', 2) + " A"; };
    const QString charger =
        flow.chargerW ? QStringLiteral("%1 W charger").arg(wattsText(*flow.chargerW)) : QString();
    const std::optional<double> value = flow.powerW ? flow.powerW : flow.currentA;
    if (!value)
        return onMains && flow.chargerW ? QStringLiteral("Plugged into a %1").arg(charger)
                                        : QString();
    if (draining(flow.currentA, flow.powerW, onMains))
        return QStringLiteral("Losing %1 while plugged in: the charger or port cannot keep up")
            .arg(flow.powerW ? watts(*flow.powerW) : amps(*flow.currentA));
    QString amount = flow.powerW ? watts(*flow.powerW) : amps(*flow.currentA);
    if (flow.powerW && flow.currentA && flow.voltageV)
        amount += QStringLiteral(" (%1 at %2 V)")
                      .arg(amps(*flow.currentA), QString::number(*flow.voltageV, 'f', 1));
    const double least = flow.powerW ? kDrainWatts : kDrainAmperes;
    if (std::abs(*value) < least)
        return QStringLiteral("Almost nothing flows into or out of the battery");
    if (*value > 0)
        return QStringLiteral("Charging at %1").arg(amount) +
               (charger.isEmpty() ? QString() : QStringLiteral(" from a ") + charger);
    return QStringLiteral("Discharging at %1").arg(amount);
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

void addPowerFlow(DeviceDetails& details, const device::PowerFlow& said, bool onMains) {
    const device::PowerFlow flow = device::completed(said);
    details.battery.currentA = flow.currentA;
    details.battery.powerW = flow.powerW;
    details.battery.chargerW = flow.chargerW;
    if (const QString text = device::flowText(flow, onMains); !text.isEmpty())
        details.power << text;
}
