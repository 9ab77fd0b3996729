#include "display/form1.h"

#include "display/text_format.h"
#include "layout/progress_bar.h"

#include <QLabel>

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Tested for equality with the whole flag, in this order; combined flags match none.
constexpr std::array<std::pair<double, const char*>, 6> kBatteryWords{{
    {1, "High"},
    {2, "Low"},
    {4, "Critical"},
    {8, "Charging"},
    {128, "No System Battery"},
    {255, "Unknown"},
}};

QString batteryStatusWord(const DeviceValue& flag) {
    const double value = flag.toDouble();
    for (const auto& [known, word] : kBatteryWords) {
        if (value == known)
            return QString::fromLatin1(word);
    }
    return QString();
}

QString mainsStatusWord(qint32 code) {
    switch (code) {
    case 0:
        return QStringLiteral("Disconnected");
    case 1:
        return QStringLiteral("Connected");
    default:
        return QStringLiteral("Unknown");
    }
}

} // namespace

QString Form1::FormatTimeString(const DeviceValue& seconds) {
    const double total = seconds.toDouble();
    const double wholeHours = std::floor(total / 3600.0);
    // Devices report an unknown time as -1 or as all bits set (4294967295); neither is a
    // duration, and the second would not fit the hour arithmetic.
    if (!std::isfinite(total) || total < 0.0 ||
        wholeHours * 3600.0 > std::numeric_limits<qint32>::max())
        return QStringLiteral("Unknown");
    const auto hours = static_cast<qint32>(wholeHours);
    const auto minutes =
        static_cast<qint32>(std::floor((total - double(hours) * 3600.0) / 60.0 + 0.5));

    QString text;
    if (hours > 0)
        text += QString::number(hours) +
                (hours == 1 ? QStringLiteral(" hour ") : QStringLiteral(" hours "));
    if (minutes > 0)
        text += display::numberToText(minutes) + QStringLiteral(" min");
    return text;
}

void Form1::GetPowerInfo() {
    DeviceValue flag;
    DeviceValue percent;
    DeviceValue lifeTime;
    DeviceValue fullLifeTime;
    if (Pelorin1->GetPowerStatus(flag, percent, lifeTime, fullLifeTime).toBool())
        ShowPowerStatus(flag, percent, lifeTime, fullLifeTime);
    ACLineStatusLabel->setText(mainsStatusWord(Pelorin1->ACLineStatus().toInt32()));
}

void Form1::BatteryWatch_Read(const std::optional<device::PowerStatus>& power, qint32 mains) {
    DeviceValue flag;
    DeviceValue percent;
    DeviceValue lifeTime;
    DeviceValue fullLifeTime;
    if (device::report(power, flag, percent, lifeTime, fullLifeTime).toBool())
        ShowPowerStatus(flag, percent, lifeTime, fullLifeTime);
    ACLineStatusLabel->setText(mainsStatusWord(mains));
}

void Form1::ShowPowerStatus(const DeviceValue& flag, const DeviceValue& percent,
                            const DeviceValue& lifeTime, const DeviceValue& fullLifeTime) {
    BatteryStatusLabel->setText(batteryStatusWord(flag));
    BatteryLifeLabel->setText(FormatTimeString(lifeTime));
    BatteryFullTimeLabel->setText(FormatTimeString(fullLifeTime));
    const double level = percent.toDouble();
    BatteryLifeBar->setValue(level >= 0.0 && level <= 100.0 ? float(std::floor(level)) : 0.0f);
}
