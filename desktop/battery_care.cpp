#include "desktop/battery_care.h"

#include "desktop/care_settings.h"
#include "desktop/notifications_dialog.h"
#include "device_link/combined_link.h"
#include "display/form1.h"
#include "report/reading_values.h"

#include <QAction>

#include <cstdio>

namespace desktop {

BatteryCare::BatteryCare(Form1& window, CombinedLink& link, QString settingsPath, Clock clock)
    : m_window(window), m_link(link), m_path(std::move(settingsPath)), m_clock(std::move(clock)) {
    const CareSettings read = readCareSettings(m_path);
    if (!read.problem.isEmpty())
        std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(read.problem));
    m_limits = read.limits;
    connect(&m_timer, &QTimer::timeout, this, &BatteryCare::checkNow);
    connect(&m_link, &KindLink::batteryRead, this, &BatteryCare::onBattery);
    apply();
}

void BatteryCare::setLimits(const care::Limits& limits) {
    if (limits == m_limits)
        return;
    m_limits = limits;
    if (const QString why = writeCareSettings(m_path, m_limits); !why.isEmpty())
        std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(why));
    apply();
    emit limitsChanged();
}

void BatteryCare::setIntervalMs(int ms) {
    m_intervalMs = ms;
    apply();
}

void BatteryCare::apply() {
    // With everything off, nothing runs: the window is as it was without notifications.
    if (!m_limits.any()) {
        m_timer.stop();
        return;
    }
    const int ms = m_intervalMs > 0 ? m_intervalMs : m_limits.intervalSeconds * 1000;
    if (!m_timer.isActive() || m_timer.interval() != ms)
        m_timer.start(ms);
}

void BatteryCare::checkNow() {
    // The link reads nothing while it shows no device.
    if (m_limits.any())
        m_link.readBattery();
}

void BatteryCare::onBattery(const DeviceReading& battery) {
    // A read that failed changes nothing; the next interval tries again.
    if (!battery.error.isEmpty() || !m_limits.any())
        return;
    m_window.BatteryWatch_Read(battery.power, battery.mains);
    care::Reading reading;
    reading.serial = battery.serial;
    for (const AttachedDevice& d : m_link.attachedDevices()) {
        if (d.serial == battery.serial)
            reading.name = d.name;
    }
    // What the JSON report and the metrics say of the same reading.
    const report::BatteryValues values = report::batteryValues(battery);
    reading.percent = values.percent;
    reading.level = values.level;
    reading.charging = values.charging.value_or(false);
    reading.temperatureC = values.temperatureC;
    reading.time = m_clock();
    for (const care::Notice& notice : m_rules.step(m_limits, reading))
        m_notifier.show(notice);
}

void installNotificationsMenu(QWidget& window, BatteryCare& care) {
    auto* open = new QAction(QObject::tr("Notifications…"), &window);
    auto dialog = std::make_shared<QPointer<NotificationsDialog>>();
    QObject::connect(open, &QAction::triggered, &window, [&window, &care, dialog] {
        if (!*dialog) {
            *dialog = new NotificationsDialog(care, &window);
            (*dialog)->setAttribute(Qt::WA_DeleteOnClose);
        }
        (*dialog)->show();
        (*dialog)->raise();
        (*dialog)->activateWindow();
    });
    window.addAction(open);
}

} // namespace desktop
