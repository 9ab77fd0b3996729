#include "cli/care_face.h"

#include "care/care_settings.h"
#include "care/care_watch.h"
#include "care/keep_watch.h"
#include "device_link/adb/adb_protocol.h"
#include "device_link/background_work.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace cli {
namespace {

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

// Answers Quit on the session bus: how the window's Notifications... ends the watcher.
class CareObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.deviceinfo.DeviceInfo.Care")
public:
    using QObject::QObject;
public slots:
    Q_SCRIPTABLE void Quit() { QCoreApplication::quit(); }
};

// The window on SERIAL: the one open switches to it, or a new one opens.
void showDevice(const QDBusConnection& bus, const QString& serial) {
    // A double click, or a service that says it twice, opens one window: the first has not
    // taken its name on the bus yet.
    static QSet<QString> opening;
    const auto open = [serial] {
        if (opening.contains(serial))
            return;
        opening.insert(serial);
        QTimer::singleShot(5000, QCoreApplication::instance(),
                           [serial] { opening.remove(serial); });
        if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("--serial"), serial}))
            say(QStringLiteral("cannot open the window on %1").arg(serial));
    };
    if (!bus.interface()->isServiceRegistered(care::kWindowName).value())
        return open();
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage::createMethodCall(care::kWindowName, care::kWindowPath,
                                                     care::kWindowInterface,
                                                     QStringLiteral("ShowDevice"))
                          << serial,
                      5000),
        QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [open](auto* w) {
        w->deleteLater();
        if (w->isError())
            open(); // the window went meanwhile
    });
}

// The session bus, asked again with a backoff until there is one: a session still starting.
class Session : public QObject {
public:
    explicit Session(std::function<void(QDBusConnection)> then) : m_then(std::move(then)) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Session::attempt);
        // Once the event loop runs, which a second watcher's exit needs.
        m_timer.start(0);
    }

private:
    void attempt() {
        const QString name = QStringLiteral("care-%1").arg(++m_attempts);
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        if (bus.isConnected())
            return m_then(bus);
        if (m_attempts == 1)
            say(QStringLiteral("there is no session bus (%1): battery care waits for one")
                    .arg(bus.lastError().message()));
        QDBusConnection::disconnectFromBus(name);
        m_timer.start(std::min(1000 << std::min(m_attempts - 1, 6), 60000));
    }

    std::function<void(QDBusConnection)> m_then;
    QTimer m_timer;
    int m_attempts = 0;
};

} // namespace

int runCare() {
    if (!device::quitOnSignals()) {
        say(QStringLiteral("cannot catch SIGTERM"));
        return 1;
    }
    CareObject object;
    std::unique_ptr<care::CareWatch> watch;
    int status = 0;
    Session session([&](QDBusConnection bus) {
        // One watcher a session: a second one, from an autostart entry beside the unit, has
        // nothing to add.
        if (!bus.registerService(care::kCareName)) {
            say(QStringLiteral("battery care already keeps watch in this session"));
            return QCoreApplication::exit(0);
        }
        bus.registerObject(care::kCarePath, &object, QDBusConnection::ExportScriptableSlots);
        care::CareWatch::Options options;
        options.settingsPath = care::careSettingsPath();
        options.statePath = care::statePath();
        options.watch.server =
            adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment());
        options.say = &say;
        options.showDevice = [bus](const QString& serial) { showDevice(bus, serial); };
        watch = std::make_unique<care::CareWatch>(std::move(options), bus);
        // Ended with 1: a unit restarts it, on the next session's bus.
        QObject::connect(watch.get(), &care::CareWatch::sessionEnded,
                         [] { QCoreApplication::exit(1); });
        say(QStringLiteral("battery care keeps watch"));
        watch->start();
    });
    status = QCoreApplication::exec();
    if (watch)
        say(QStringLiteral("battery care stopped"));
    watch.reset();
    return status;
}

} // namespace cli

#include "care_face.moc"
