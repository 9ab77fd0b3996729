#include "care/care_watch.h"

#include "report/reading_values.h"

namespace care {

Reading readingOf(const DeviceReading& battery, const QString& name, const QDateTime& time) {
    Reading reading;
    reading.serial = battery.serial;
    reading.name = name;
    // What the JSON report and the metrics say of the same reading.
    const report::BatteryValues values = report::batteryValues(battery);
    reading.percent = values.percent;
    reading.level = values.level;
    reading.charging = values.charging.value_or(false);
    reading.temperatureC = values.temperatureC;
    reading.onMains = values.onMains.value_or(false);
    reading.flow = values.powerW ? values.powerW : values.currentA;
    reading.draining = device::draining(values.currentA, values.powerW, reading.onMains);
    reading.time = time;
    return reading;
}

namespace {

BatteryFeed::Options feedOptions(const CareWatch::Options& options) {
    BatteryFeed::Options out;
    out.settingsPath = options.settingsPath;
    out.watch = options.watch;
    out.intervalMs = options.intervalMs;
    out.say = options.say;
    out.idle = QStringLiteral("every battery notice and the panel are off: nothing is read until "
                              "one is turned on in %1");
    return out;
}

} // namespace

CareWatch::CareWatch(Options options, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_bus(bus),
      m_rules(m_options.statePath, m_options.clock, m_options.say), m_notifier(bus),
      m_owner(bus, NoticeOwner::Claim::Watcher), m_feed(feedOptions(m_options)) {
    // What another process said while this one waited its turn is not said again.
    connect(&m_owner, &NoticeOwner::ownsChanged, this, [this](bool owns) {
        if (owns)
            m_rules.reload();
    });
    connect(&m_notifier, &DesktopNotifier::deviceWanted, this, [this](const QString& serial) {
        if (m_options.showDevice)
            m_options.showDevice(serial);
    });
    // libdbus says so on the connection itself; with nothing read meanwhile, nothing else would.
    m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                  QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                  this, SLOT(onBusGone()));
    connect(&m_feed, &BatteryFeed::read, this, &CareWatch::step);
    connect(&m_feed, &BatteryFeed::devicesChanged, this, &CareWatch::lookAgain);
    connect(&m_feed, &BatteryFeed::settingsChanged, this, [this] {
        if (std::exchange(m_panel, panel()) != panel())
            emit panelChanged(panel());
        // Low and hot follow the notices' limits.
        lookAgain();
    });
}

CareWatch::~CareWatch() = default;

void CareWatch::start() {
    // What a window said before this process took the notifying over.
    m_rules.reload();
    m_notifier.probeUntilAvailable();
    m_feed.start();
    m_panel = panel();
}

void CareWatch::lookAgain() {
    Glance now = care::glance(m_feed.devices(), limits());
    if (now == m_glance)
        return;
    m_glance = std::move(now);
    emit glanceChanged(m_glance);
}

void CareWatch::onBusGone() {
    if (std::exchange(m_saidSessionEnded, true))
        return;
    m_options.say(QStringLiteral("the session bus went away: battery care ends"));
    emit sessionEnded();
}

void CareWatch::step(const DeviceReading& reading, const QString& name) {
    // A session bus gone does not come back to this connection: a notice now would be kept as
    // said and never seen.
    if (!m_bus.isConnected())
        return onBusGone();
    if (!m_owner.owns() || !limits().any())
        return;
    for (const Notice& notice : m_rules.step(limits(), readingOf(reading, name, m_options.clock())))
        m_notifier.show(notice);
}

} // namespace care
