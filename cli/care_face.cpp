#include "cli/care_face.h"

#include "care/care_settings.h"
#include "care/care_watch.h"
#include "care/keep_watch.h"
#include "desktop/status_item.h"
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

// Starts this program with ARGUMENTS, handing TOKEN on so that its window may come to the front
// on Wayland; once per KEY within 5 s: a double click, or a service that says it twice, opens
// one window, as the first has not taken its name on the bus yet.
void startWindow(const QString& key, const QStringList& arguments, const QString& token) {
    static QSet<QString> opening;
    if (opening.contains(key))
        return;
    opening.insert(key);
    QTimer::singleShot(5000, QCoreApplication::instance(), [key] { opening.remove(key); });
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    if (!token.isEmpty())
        environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), token);
    process.setProcessEnvironment(environment);
    if (!process.startDetached())
        say(QStringLiteral("cannot open the window (%1)").arg(arguments.join(u' ')));
}

// Asks the window that is open for METHOD with ARGUMENTS; where none is, or it went
// meanwhile, OTHERWISE.
void askWindow(const QDBusConnection& bus, const QString& method, const QVariantList& arguments,
               std::function<void()> otherwise) {
    if (!bus.interface()->isServiceRegistered(care::kWindowName).value())
        return otherwise();
    QDBusMessage call = QDBusMessage::createMethodCall(care::kWindowName, care::kWindowPath,
                                                       care::kWindowInterface, method);
    call.setArguments(arguments);
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [otherwise = std::move(otherwise)](auto* w) {
                         w->deleteLater();
                         if (w->isError())
                             otherwise();
                     });
}

// The window on SERIAL (the first ready device where empty): the one open switches to it, or a
// new one opens.
void showDevice(const QDBusConnection& bus, const QString& serial, const QString& token = {}) {
    askWindow(bus, QStringLiteral("ShowDeviceWithToken"), {serial, token}, [serial, token] {
        startWindow(serial,
                    serial.isEmpty() ? QStringList()
                                     : QStringList{QStringLiteral("--serial"), serial},
                    token);
    });
}

// Notifications..., in the window that is open or a new one.
void showSettings(const QDBusConnection& bus, const QString& token) {
    askWindow(bus, QStringLiteral("ShowNotifications"), {token}, [token] {
        startWindow(QStringLiteral("--notifications"), {QStringLiteral("--notifications")}, token);
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
    std::unique_ptr<desktop::StatusItem> item;
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
        // Every battery in the panel, while the settings say so.
        const auto panel = [&item, &watch, bus](bool shown) {
            if (!shown)
                return item.reset();
            if (item)
                return;
            desktop::StatusItem::Actions actions;
            actions.showDevice = [bus](const QString& serial, const QString& token) {
                showDevice(bus, serial, token);
            };
            actions.showSettings = [bus](const QString& token) { showSettings(bus, token); };
            actions.quit = [] { QCoreApplication::quit(); };
            actions.say = &say;
            item = std::make_unique<desktop::StatusItem>(bus, std::move(actions));
            item->show(watch->glance());
            QObject::connect(watch.get(), &care::CareWatch::glanceChanged, item.get(),
                             &desktop::StatusItem::show);
        };
        QObject::connect(watch.get(), &care::CareWatch::panelChanged, panel);
        say(QStringLiteral("battery care keeps watch"));
        watch->start();
        panel(watch->panel());
    });
    status = QCoreApplication::exec();
    if (watch)
        say(QStringLiteral("battery care stopped"));
    item.reset();
    watch.reset();
    return status;
}

} // namespace cli

#include "care_face.moc"
