#include "care/glance.h"

#include "device_link/device_facts.h"
#include "report/reading_values.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace care {
namespace {

// Heat that deserves a look where the user set no threshold: the page's and the rules' mark.
constexpr double kHotCelsius = 45;
constexpr double kLowPercent = 20;
// At or below this a battery is critical, as the window's status word has it.
constexpr double kCriticalPercent = 5;
// A name in a status bar's text is cut to this, with an ellipsis.
constexpr qsizetype kShortName = 24;
// The most lines a tooltip has.
constexpr int kMostLines = 20;

// What UPower's coarse levels stand for, to compare them with a percentage.
std::optional<double> levelPercent(const QString& level) {
    static const std::pair<const char*, double> kLevels[] = {
        {"critical", 5}, {"low", 15}, {"normal", 50}, {"high", 80}, {"full", 100}};
    for (const auto& [word, percent] : kLevels) {
        if (level == QLatin1String(word))
            return percent;
    }
    return std::nullopt;
}

// "3 h 10 min", "45 min", "2 h".
QString duration(qint64 seconds) {
    const qint64 minutes = std::max<qint64>(1, (seconds + 30) / 60);
    const qint64 hours = minutes / 60;
    if (hours == 0)
        return QStringLiteral("%1 min").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral("%1 h").arg(hours);
    return QStringLiteral("%1 h %2 min").arg(hours).arg(minutes % 60);
}

// A state that is not ready, in a few words.
QString stateWords(const QString& state) {
    if (state == QLatin1String("trust"))
        return QStringLiteral("waiting for Trust");
    return QString(state).replace(u'-', u' ');
}

GlanceRow rowOf(const Watched& device, const Limits& limits) {
    GlanceRow row;
    row.serial = device.listed.serial;
    row.name = nameOf(device);
    QStringList parts;
    if (!survey::isReady(device.listed)) {
        parts << stateWords(device.listed.state);
    } else if (device.reading) {
        const report::BatteryValues v = report::batteryValues(*device.reading);
        row.charging = v.charging.value_or(false);
        const bool onMains = v.onMains.value_or(false);
        const bool draining = device::draining(v.currentA, v.powerW, onMains);
        const double hot = limits.hotCelsius > 0 ? limits.hotCelsius : kHotCelsius;
        const double low = limits.lowPercent > 0 ? limits.lowPercent : kLowPercent;
        row.percent = v.percent ? v.percent : levelPercent(v.level);
        row.charge = v.percent ? level(*v.percent) + u'%' : v.level;
        const double percent = row.percent.value_or(100);
        if (v.temperatureC && *v.temperatureC > hot)
            row.standing = Standing::Hot;
        else if (draining)
            row.standing = Standing::Draining;
        else if (!row.charging && (percent <= kCriticalPercent || v.level == u"critical"))
            row.standing = Standing::Critical;
        else if (!row.charging && (percent <= low || v.level == u"low"))
            row.standing = Standing::Low;
        else if (row.charging)
            row.standing = Standing::Charging;

        if (v.present == false)
            parts << QStringLiteral("no battery");
        else if (!row.charge.isEmpty())
            parts << row.charge;
        if (row.standing == Standing::Hot)
            parts << QStringLiteral("hot at %1 °C")
                         .arg(QString::number(std::round(*v.temperatureC * 10) / 10));
        const bool flows = v.powerW && std::abs(*v.powerW) >= device::kDrainWatts;
        if (draining) {
            parts << QStringLiteral("losing %1 while plugged in")
                         .arg(v.powerW ? device::flowWattsText(*v.powerW)
                                       : QString::number(std::abs(*v.currentA), 'f', 2) +
                                             QStringLiteral(" A"));
        } else if (row.charging) {
            parts << (flows && *v.powerW > 0
                          ? QStringLiteral("charging at %1").arg(device::flowWattsText(*v.powerW))
                          : QStringLiteral("charging"));
            if (v.secondsToFull)
                parts << QStringLiteral("full in %1").arg(duration(*v.secondsToFull));
        } else if (onMains && v.present != false) {
            parts << QStringLiteral("on mains");
        } else if (v.secondsLeft) {
            parts << QStringLiteral("%1 left").arg(duration(*v.secondsLeft));
        } else if (flows && *v.powerW < 0) {
            parts << QStringLiteral("discharging at %1").arg(device::flowWattsText(*v.powerW));
        }
    }
    row.line = parts.isEmpty() ? row.name : row.name + QStringLiteral(" — ") + parts.join(u", ");
    return row;
}

} // namespace

QString nameOf(const Watched& device) {
    QString name = device.reading ? device.reading->name : QString();
    if (name.trimmed().isEmpty())
        name = device.listed.name;
    if (name.trimmed().isEmpty())
        name = device.listed.serial;
    return device::printable(name);
}

QString standingWord(Standing standing) {
    static const char* const kWords[] = {"hot", "draining", "critical", "low", "charging", "ok"};
    return QString::fromLatin1(kWords[int(standing)]);
}

Glance glance(const std::vector<Watched>& devices, const Limits& limits) {
    Glance out;
    for (const Watched& device : devices)
        out.rows.push_back(rowOf(device, limits));
    // The warnings first, the hot before the draining; then those not charging; each lowest
    // first, and of equals the first listed.
    const auto rank = [](const GlanceRow& row) {
        const int group = row.warning() ? int(row.standing) : row.charging ? 3 : 2;
        return std::tuple(group, row.percent.value_or(101));
    };
    for (std::size_t i = 0; i < out.rows.size(); ++i) {
        const GlanceRow& row = out.rows[i];
        if (!row.percent && !row.warning())
            continue;
        if (out.look < 0 || rank(row) < rank(out.rows[std::size_t(out.look)]))
            out.look = int(i);
    }
    return out;
}

QString tooltipText(const Glance& glance) {
    if (glance.rows.empty())
        return QStringLiteral("No device is attached");
    QStringList lines;
    for (const GlanceRow& row : glance.rows) {
        // A tooltip is read at a glance: a lab's hundred devices are counted, not listed.
        if (lines.size() == kMostLines - 1 && glance.rows.size() > std::size_t(kMostLines)) {
            lines << QStringLiteral("and %1 more").arg(glance.rows.size() - lines.size());
            break;
        }
        lines << row.line;
    }
    return lines.join(u'\n');
}

QString markupEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

QByteArray waybarLine(const Glance& glance) {
    const GlanceRow* look = glance.lookRow();
    QString text;
    if (look) {
        const QString name = look->name.size() > kShortName
                                 ? device::leftWhole(look->name, kShortName - 1).toString() + u'…'
                                 : look->name;
        text = look->charge.isEmpty() ? name : name + u' ' + look->charge;
    }
    const QJsonObject object{
        {QStringLiteral("text"), markupEscaped(text)},
        {QStringLiteral("tooltip"), markupEscaped(tooltipText(glance))},
        {QStringLiteral("class"), standingWord(look ? look->standing : Standing::Ok)},
        {QStringLiteral("percentage"),
         look && look->percent ? int(std::floor(*look->percent)) : 0}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace care
