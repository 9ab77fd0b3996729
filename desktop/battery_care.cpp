#include "desktop/battery_care.h"

#include "care/care_settings.h"
#include "care/care_watch.h"
#include "desktop/notifications_dialog.h"
#include "device_link/combined_link.h"
#include "display/form1.h"

#include <QAction>
#include <QDBusConnection>

#include <cstdio>

namespace desktop {

namespace {

void say(const QString& line) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(line));
}

// What a watcher asks of the window: its device shown, or its Notifications... dialog. A token
// the panel gave lets the window come to the front on Wayland.
class WindowObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.deviceinfo.DeviceInfo.Window")
public:
    explicit WindowObject(BatteryCare& care) : QObject(&care), m_care(care) {}
public slots:
    Q_SCRIPTABLE void ShowDevice(const QString& serial) { ShowDeviceWithToken(serial, {}); }
    Q_SCRIPTABLE void ShowDeviceWithToken(const QString& serial, const QString& token) {
        // A serial is short; anything longer is nobody's.
        if (serial.size() <= 256)
            m_care.showDevice(serial, token);
    }
    Q_SCRIPTABLE void ShowNotifications(const QString& token) { m_care.showSettings(token); }

private:
    BatteryCare& m_care;
};

// Lets the window come to the front where the compositor asks for a token (Wayland's
// xdg-activation): Qt takes it from the environment when the window asks to be activated.
void present(QWidget& window, const QString& token) {
    if (!token.isEmpty() && token.size() <= 256)
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    window.showNormal();
    window.raise();
    window.activateWindow();
}

} // namespace

BatteryCare::BatteryCare(Form1& window, CombinedLink& link, QString settingsPath, QString statePath,
                         Clock clock, QString autostart, QString program)
    : m_window(window), m_link(link), m_path(std::move(settingsPath)), m_clock(std::move(clock)),
      m_rules(std::move(statePath), m_clock, &say),
      m_owner(QDBusConnection::sessionBus(), care::NoticeOwner::Claim::Window),
      m_keepWatch(QDBusConnection::sessionBus(), std::move(autostart), std::move(program)) {
    const care::CareSettings read = care::readCareSettings(m_path);
    if (!read.problem.isEmpty())
        say(read.problem);
    m_limits = read.limits;
    connect(&m_timer, &QTimer::timeout, this, &BatteryCare::checkNow);
    connect(&m_link, &KindLink::batteryRead, this, &BatteryCare::onBattery);
    // What a watcher said while it notified is not said again by the window.
    connect(&m_owner, &care::NoticeOwner::ownsChanged, this, [this](bool owns) {
        if (owns)
            m_rules.reload();
    });
    connect(&m_notifier, &care::DesktopNotifier::deviceWanted, this,
            [this](const QString& serial) { showDevice(serial); });
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The first window open is the one a watcher's notice switches.
    if (bus.isConnected() && bus.registerService(care::kWindowName))
        bus.registerObject(care::kWindowPath, new WindowObject(*this),
                           QDBusConnection::ExportScriptableSlots);
    apply();
}

void BatteryCare::showDevice(const QString& serial, const QString& token) {
    m_link.setWantedSerial(serial, QStringLiteral("a notification"));
    present(m_window, token);
}

void BatteryCare::showSettings(const QString& token) {
    if (!m_openSettings)
        return;
    present(m_window, token);
    m_openSettings();
}

bool BatteryCare::panel() const {
    return care::readCareSettings(m_path).panel;
}

void BatteryCare::setPanel(bool shown) {
    if (const QString why = care::writePanelSetting(m_path, shown); !why.isEmpty())
        say(why);
    emit limitsChanged();
}

void BatteryCare::setLimits(const care::Limits& limits) {
    if (limits == m_limits)
        return;
    m_limits = limits;
    if (const QString why = care::writeCareSettings(m_path, m_limits); !why.isEmpty())
        say(why);
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
    // A watcher that notifies has read this device too.
    if (!m_owner.owns())
        return;
    QString name;
    for (const AttachedDevice& d : m_link.attachedDevices()) {
        if (d.serial == battery.serial)
            name = d.name;
    }
    for (const care::Notice& notice :
         m_rules.step(m_limits, care::readingOf(battery, name, m_clock())))
        m_notifier.show(notice);
}

void installNotificationsMenu(QWidget& window, BatteryCare& care) {
    auto* open = new QAction(QObject::tr("Notifications…"), &window);
    auto dialog = std::make_shared<QPointer<NotificationsDialog>>();
    const auto show = [&window, &care, dialog] {
        if (!*dialog) {
            *dialog = new NotificationsDialog(care, &window);
            (*dialog)->setAttribute(Qt::WA_DeleteOnClose);
        }
        (*dialog)->show();
        (*dialog)->raise();
        (*dialog)->activateWindow();
    };
    QObject::connect(open, &QAction::triggered, &window, show);
    care.setOpenSettings(show);
    window.addAction(open);
}

} // namespace desktop

#include "battery_care.moc"
