#include "care/care_settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace care {
namespace {

struct Key {
    const char* name;
    int Limits::*value;
    Range range;
};
const Key kKeys[] = {{"chargedPercent", &Limits::chargedPercent, care::kChargedRange},
                     {"lowPercent", &Limits::lowPercent, care::kLowRange},
                     {"hotCelsius", &Limits::hotCelsius, care::kHotRange},
                     {"intervalSeconds", &Limits::intervalSeconds, care::kIntervalRange},
                     {"drainingOnMains", &Limits::drainingOnMains, care::kSwitchRange}};

} // namespace

QString careSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/device-info/device-info.conf");
}

bool settingsFileUsable(const QString& path) {
    const QFileInfo file(path);
    return !file.exists() || file.isFile();
}

CareSettings readCareSettings(const QString& path) {
    CareSettings out;
    const QFileInfo file(path);
    if (!file.exists())
        return out;
    if (!file.isFile() || !file.isReadable()) {
        out.problem = QStringLiteral("the notification settings in %1 cannot be read; "
                                     "notifications are off")
                          .arg(path);
        return out;
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        out.problem = QStringLiteral("the notification settings in %1 are not an INI file; "
                                     "notifications are off")
                          .arg(path);
        return out;
    }
    settings.beginGroup(QStringLiteral("notifications"));
    QStringList nonsense;
    for (const Key& key : kKeys) {
        const QVariant value = settings.value(QLatin1String(key.name));
        if (!value.isValid())
            continue;
        bool number = false;
        const int n = value.toString().trimmed().toInt(&number);
        if (!number) {
            nonsense << QLatin1String(key.name);
            continue;
        }
        // 0 is off; an interval is never off, and 0 of it is the default.
        const bool interval = key.value == &Limits::intervalSeconds;
        out.limits.*key.value = n == 0 ? (interval ? Limits().intervalSeconds : 0)
                                       : std::clamp(n, key.range.least, key.range.most);
    }
    settings.endGroup();
    const QVariant panel = settings.value(QStringLiteral("panel/show"));
    bool number = false;
    if (panel.isValid()) {
        out.panel = panel.toString().trimmed().toInt(&number) > 0;
        if (!number)
            nonsense << QStringLiteral("show in [panel]");
    }
    if (!nonsense.isEmpty())
        out.problem = (nonsense.size() == 1
                           ? QStringLiteral("the notification settings in %1 hold %2, which is "
                                            "not a whole number; the default stands")
                           : QStringLiteral("the notification settings in %1 hold %2, which are "
                                            "not whole numbers; their defaults stand"))
                          .arg(path, nonsense.join(QStringLiteral(" and ")));
    return out;
}

namespace {

QString written(QSettings& settings, const QString& path) {
    settings.sync();
    return settings.status() == QSettings::NoError
               ? QString()
               : QStringLiteral("the notification settings cannot be written to %1").arg(path);
}

} // namespace

QString writeCareSettings(const QString& path, const Limits& limits) {
    if (!settingsFileUsable(path))
        return QStringLiteral("the notification settings cannot be written to %1").arg(path);
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("notifications"));
    for (const Key& key : kKeys)
        settings.setValue(QLatin1String(key.name), limits.*key.value);
    settings.endGroup();
    return written(settings, path);
}

QString writePanelSetting(const QString& path, bool show) {
    if (!settingsFileUsable(path))
        return QStringLiteral("the notification settings cannot be written to %1").arg(path);
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("panel/show"), show ? 1 : 0);
    return written(settings, path);
}

} // namespace care
