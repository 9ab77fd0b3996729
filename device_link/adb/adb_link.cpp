#include "device_link/adb/adb_link.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_details.h"
#include "device_link/adb/adb_parsers.h"
#include "device_link/adb/adb_reading.h"

#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

bool isNotReadyYet(const QString& state) {
    return state == QLatin1String("unauthorized") || state == QLatin1String("authorizing") ||
           state == QLatin1String("connecting");
}

void note(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

} // namespace

AdbLink::AdbLink()
    : m_server(adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment())) {
    m_state.wanted = qEnvironmentVariable("ANDROID_SERIAL").trimmed();
    init();
}

AdbLink::AdbLink(const QString& socketSpec, QObject* parent)
    : KindLink(parent),
      m_server(adb::parseSocketSpec(socketSpec)
                   .value_or(adb::ServerAddress{QStringLiteral("localhost"), 5037})) {
    init();
}

AdbLink::~AdbLink() {
    // Closing quietly: the window is going, nothing should reach it any more.
    m_tracker->blockSignals(true);
    m_poller->blockSignals(true);
    m_starter->disconnect(this);
}

void AdbLink::init() {
    m_state.server = m_server;
    updateStatus();
    m_starter =
        std::make_unique<adb::ServerStarter>(m_server, adb::ServerStarter::Lifetime::Daemon);
    // Once "adb start-server" is back, its server listens: no need to wait for the backoff.
    connect(m_starter.get(), &adb::ServerStarter::ended, this, [this] {
        m_reconnectTimer.stop();
        m_backoffMs = 0;
        connectTracker();
    });
    m_tracker = std::make_unique<adb::ServerStream>();
    m_poller = std::make_unique<adb::ServerStream>();
    connect(m_tracker.get(), &adb::ServerStream::accepted, this, [this] {
        m_serverUp = true;
        m_backoffMs = 0;
        m_starter->answers();
        m_pollTimer.start(m_timing.pollMs);
        // Said with the first device list, which the server sends at once.
        m_state.phase = adb::ServerPhase::Up;
        m_state.serverMessage.clear();
    });
    connect(m_tracker.get(), &adb::ServerStream::frame, this, &AdbLink::onDeviceList);
    connect(m_tracker.get(), &adb::ServerStream::ended, this, &AdbLink::onTrackerEnded);
    connect(m_poller.get(), &adb::ServerStream::frame, this, &AdbLink::onDeviceList);

    m_pollTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_pollTimer, &QTimer::timeout, this, &AdbLink::poll);
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &AdbLink::connectTracker);
    // Watching begins once the window's event loop runs, never inside its constructor.
    QTimer::singleShot(0, this, &AdbLink::connectTracker);
}

void AdbLink::connectTracker() {
    m_tracker->open(m_server, "host:track-devices-l", m_timing.answerMs);
}

void AdbLink::onDeviceList(const QByteArray& payload) {
    // A slow check still under way may answer with a list older than this one.
    m_poller->close();
    applyDeviceList(adb::parseDeviceList(QString::fromUtf8(payload)));
}

void AdbLink::onTrackerEnded(adb::ServerStream::End why, const QString& message,
                             QAbstractSocket::SocketError socketError) {
    m_pollTimer.stop();
    m_poller->close();
    const bool lost = m_serverUp;
    // Still "reconnecting" after a loss, until the server is back.
    adb::ServerPhase phase = lost || m_state.phase == adb::ServerPhase::Lost
                                 ? adb::ServerPhase::Lost
                                 : adb::ServerPhase::Unreachable;
    if (lost) {
        m_serverUp = false;
        unfollow();
        m_notedNotReady.clear();
    } else if (why == adb::ServerStream::End::Refused) {
        phase = adb::ServerPhase::Refused;
    }
    // Only a server on this computer can be started here; a remote one is never replaced.
    if (socketError == QAbstractSocket::ConnectionRefusedError && adb::isLocalHost(m_server.host))
        phase = startServer().value_or(phase);
    setPhase(phase, phase == adb::ServerPhase::Refused ? message : QString());
    if (lost)
        emit ConnectionEvent(EventServerLost, QString());
    scheduleReconnect();
}

void AdbLink::scheduleReconnect() {
    m_backoffMs =
        m_backoffMs == 0 ? m_timing.backoffMinMs : qMin(m_backoffMs * 2, m_timing.backoffMaxMs);
    m_reconnectTimer.start(m_backoffMs);
}

std::optional<adb::ServerPhase> AdbLink::startServer() {
    if (!m_mayStartServer)
        return std::nullopt;
    switch (m_starter->noneAnswers()) {
    case adb::ServerStarter::Outcome::Started:
    case adb::ServerStarter::Outcome::Running:
        return adb::ServerPhase::Starting;
    case adb::ServerStarter::Outcome::NoAdb:
        return adb::ServerPhase::NoAdb;
    case adb::ServerStarter::Outcome::Waiting:
    case adb::ServerStarter::Outcome::NotLocal:
        break;
    }
    return std::nullopt;
}

void AdbLink::poll() {
    // adb servers up to protocol 41 push additions and removals but not state changes.
    if (!m_poller->isOpen())
        m_poller->open(m_server, "host:devices-l", m_timing.answerMs);
}

void AdbLink::applyDeviceList(const std::vector<adb::Device>& devices) {
    // Who is shown, as known before this list: its transport may be the one that went.
    const QString shownId = followedSerial();
    m_state.devices = devices;
    m_identities = adb::stillKnown(m_identities, devices);
    m_byDevice = adb::byDevice(devices, m_identities);
    readIdentities();
    const auto isReady = [](const adb::Device& d) { return d.state == QLatin1String("device"); };
    if (!m_state.followed.isEmpty()) {
        const adb::AttachedAndroid* shown = deviceOf(m_state.followed);
        if (!shown && shownId != m_state.followed) {
            const auto same = std::find_if(m_byDevice.begin(), m_byDevice.end(),
                                           [&](const auto& d) { return d.serial == shownId; });
            shown = same == m_byDevice.end() ? nullptr : &*same;
        }
        if (shown && isReady(shown->via)) {
            // The same device through another transport: USB back, or Wi-Fi once the cable is
            // out. It stays shown; the next refresh reads it there.
            if (shown->via.serial != m_state.followed && m_announced) {
                m_state.followed = shown->via.serial;
                m_answers.clear();
            }
            return updateStatus();
        }
        if (!m_moving.hasExpired())
            return updateStatus();
        const auto it = std::find_if(devices.begin(), devices.end(), [this](const adb::Device& d) {
            return d.serial == m_state.followed;
        });
        letFollowedGo(it == devices.end() ? EventRemoved : EventOffline);
    }

    const auto candidate = [this](const adb::AttachedAndroid& d) {
        return m_state.wanted.isEmpty() || d.serial == m_state.wanted ||
               d.names.contains(m_state.wanted);
    };
    QSet<QString> notReady;
    bool newlyNotReady = false;
    for (const adb::AttachedAndroid& device : m_byDevice) {
        if (!candidate(device) || !isNotReadyYet(device.via.state))
            continue;
        const QString key = device.via.serial + u' ' + device.via.state;
        notReady.insert(key);
        newlyNotReady = newlyNotReady || !m_notedNotReady.contains(key);
    }
    m_notedNotReady = notReady;

    const auto ready = std::find_if(m_byDevice.begin(), m_byDevice.end(),
                                    [&](const auto& d) { return candidate(d) && isReady(d.via); });
    if (newlyNotReady)
        emit ConnectionEvent(EventNotReady, QString());
    if (ready != m_byDevice.end())
        return follow(ready->via.serial);
    updateStatus();
}

const adb::AttachedAndroid* AdbLink::deviceOf(const QString& transport) const {
    const auto it = std::find_if(m_byDevice.begin(), m_byDevice.end(),
                                 [&](const auto& d) { return d.names.contains(transport); });
    return it == m_byDevice.end() ? nullptr : &*it;
}

QString AdbLink::followedSerial() const {
    const adb::AttachedAndroid* shown = deviceOf(m_state.followed);
    return shown ? shown->serial : m_state.followed;
}

void AdbLink::readIdentities() {
    for (const adb::Device& d : m_state.devices) {
        if (d.state != QLatin1String("device") || m_identities.contains(d.serial) ||
            m_identitiesReading.contains(d.serial))
            continue;
        m_identitiesReading.insert(d.serial);
        auto* watcher = new QFutureWatcher<adb::Identity>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, serial = d.serial] {
            watcher->deleteLater();
            m_identitiesReading.remove(serial);
            const auto listed =
                std::find_if(m_state.devices.begin(), m_state.devices.end(),
                             [&](const adb::Device& d) { return d.serial == serial; });
            // Gone meanwhile: not its identity any more.
            if (listed == m_state.devices.end() || listed->state != QLatin1String("device"))
                return;
            m_identities.insert(serial, watcher->result());
            for (const adb::Device& usb : adb::readAgainFor(*listed, m_state.devices, m_identities))
                readAddressesAgain(usb);
            applyDeviceList(m_state.devices);
        });
        watcher->setFuture(QtConcurrent::run(adb::readIdentity, m_server, d, m_limits));
    }
}

void AdbLink::readAddressesAgain(const adb::Device& usb) {
    auto* watcher = new QFutureWatcher<adb::Identity>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, serial = usb.serial] {
        watcher->deleteLater();
        // Gone meanwhile: what it knew went with it.
        if (!m_identities.contains(serial))
            return;
        m_identities.insert(serial,
                            adb::withAddressesOf(m_identities.value(serial), watcher->result()));
        applyDeviceList(m_state.devices);
    });
    watcher->setFuture(QtConcurrent::run(adb::readIdentity, m_server, usb, m_limits));
}

bool AdbLink::canSwitchToWifi() const {
    const adb::AttachedAndroid* shown = deviceOf(m_state.followed);
    return m_announced && shown && shown->usb && shown->wifiAddress.isEmpty();
}

void AdbLink::switchToWifi(const QString& host, quint16 port,
                           std::function<void(const adb::ConnectOutcome&, const QString&)> done) {
    const QString at = host.isEmpty() ? m_followedAddress : host;
    const QString address = at.isEmpty() ? QString() : at + u':' + QString::number(port);
    if (!canSwitchToWifi() || address.isEmpty()) {
        return done({adb::ConnectOutcome::Failed,
                     canSwitchToWifi()
                         ? QStringLiteral("It has no Wi-Fi address: join it to this network "
                                          "first.")
                         : QStringLiteral("No device is shown over USB.")},
                    address);
    }
    // adbd restarts to listen on the network: its USB end may be gone a moment meanwhile.
    m_moving = QDeadlineTimer(20000);
    auto* watcher = new QFutureWatcher<adb::ConnectOutcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, address, done] {
        watcher->deleteLater();
        const adb::ConnectOutcome outcome = watcher->result();
        // Shown still until its Wi-Fi transport's number is read, or at once where it failed.
        m_moving = QDeadlineTimer(outcome.connected() ? 5000 : 0);
        QTimer::singleShot(5000, this, [this] { applyDeviceList(m_state.devices); });
        applyDeviceList(m_state.devices);
        done(outcome, address);
    });
    watcher->setFuture(QtConcurrent::run(
        [server = m_server, transport = m_state.followed, address, port, limits = m_limits] {
            try {
                adb::listenOnTcp(server, transport, port, limits);
            } catch (const adb::TransportError& e) {
                return adb::ConnectOutcome{
                    adb::ConnectOutcome::Failed,
                    QStringLiteral("It did not listen on port %1: %2.")
                        .arg(QString::number(port), QString::fromUtf8(e.what()))};
            }
            // It listens once adbd has restarted: a second or two.
            const QDeadlineTimer patience(10000);
            adb::ConnectOutcome outcome;
            do {
                outcome = adb::connectWifi(server, address);
                if (outcome.kind != adb::ConnectOutcome::Refused)
                    break;
                QThread::msleep(300);
            } while (!patience.hasExpired());
            return outcome;
        }));
}

void AdbLink::setWantedSerial(const QString& serial, const QString& from) {
    choose(serial, from, false);
}

void AdbLink::standAside(const QString& serial, const QString& from) {
    choose(serial, from, true);
}

void AdbLink::choose(const QString& serial, const QString& from, bool aside) {
    m_state.wanted = serial.trimmed();
    m_state.wantedFrom = from;
    m_state.aside = aside;
    const adb::AttachedAndroid* shown = deviceOf(m_state.followed);
    // Either of its names chooses it.
    if (unwanted(m_state.followed, m_state.wanted) &&
        !(shown && (shown->serial == m_state.wanted || shown->names.contains(m_state.wanted))))
        letFollowedGo(EventRemoved);
    // The wanted device, or the first ready one, from the list already in hand.
    if (m_state.followed.isEmpty() && m_state.phase == adb::ServerPhase::Up)
        return applyDeviceList(m_state.devices);
    updateStatus();
}

std::vector<AttachedDevice> AdbLink::attachedDevices() const {
    std::vector<AttachedDevice> out;
    for (const adb::AttachedAndroid& d : m_byDevice)
        out.push_back({d.serial, DeviceKind::Android, QStringLiteral("Android"),
                       m_names.value(d.via.serial, adb::deviceName(d, m_identities)),
                       d.via.state == QLatin1String("device") ? QString() : d.via.state});
    return out;
}

void AdbLink::setPhase(adb::ServerPhase phase, const QString& message) {
    m_state.phase = phase;
    m_state.serverMessage = message;
    if (phase != adb::ServerPhase::Up)
        m_state.devices.clear();
    updateStatus();
}

void AdbLink::updateStatus() {
    if (std::vector<AttachedDevice> attached = attachedDevices(); attached != m_attached) {
        m_attached = std::move(attached);
        emit devicesChanged();
    }
    m_state.reading = !m_state.followed.isEmpty() && !m_announced;
    const adb::AttachedAndroid* shown = deviceOf(m_state.followed);
    m_state.followedId = shown ? shown->serial : QString();
    m_state.wifiAlso =
        shown && shown->usb && !adb::isWifi(shown->via) ? shown->wifiAddress : QString();
    const QString text = adb::statusText(m_state);
    if (text == m_statusText)
        return;
    m_statusText = text;
    if (!m_state.aside)
        note(text);
    emit statusChanged(text);
}

void AdbLink::follow(const QString& serial) {
    m_state.followed = serial;
    m_announced = false;
    m_answers.clear();
    // A loopback host is a forwarded port (an emulator, a tunnel), not the device's address; a
    // name is asked of the device.
    const QString address = adb::networkSerialAddress(serial);
    std::vector<QByteArray> commands = adb::command::RefreshSet;
    const bool askAddress = address.isEmpty();
    if (askAddress)
        commands.push_back(adb::command::Address);
    // A phone takes tens of milliseconds a command: the answers are fetched off the window's
    // thread, and code 0 waits for them so that its refresh does not.
    m_connecting = std::make_unique<AnswersWatcher>();
    connect(m_connecting.get(), &AnswersWatcher::finished, this,
            [this, serial, address, askAddress] { onFirstAnswers(serial, address, askAddress); });
    m_connecting->setFuture(QtConcurrent::run(
        [server = m_server, serial, commands = std::move(commands), limits = m_limits] {
            return adb::runDeviceCommands(server, serial, commands, limits);
        }));
    updateStatus();
}

void AdbLink::noteDetails(const std::vector<adb::CommandResult>& results) {
    // Its own name, for the Device menu, where it gave one.
    if (const adb::CommandResult& name = results[adb::command::NameAt]; !name.error) {
        if (const QString said = adb::nameFrom(name.output); !said.isEmpty())
            m_names.insert(m_state.followed, said);
    }
    std::vector<QByteArray> outputs;
    for (const adb::CommandResult& result : results)
        outputs.push_back(result.error ? QByteArray() : result.output);
    DeviceDetails details = adb::parseDetails(outputs);
    adb::addBatteryCapacity(details, m_health);
    setDetails(details);
    if (const QString system = adb::systemText(outputs[adb::command::ProcessorAt]);
        !system.isEmpty()) {
        m_state.system = system;
        updateStatus();
    }
}

void AdbLink::forgetFollowed() {
    unfollow();
    updateStatus();
}

void AdbLink::unfollow() {
    m_announced = false;
    setDetails({});
    m_state.system.clear();
    m_state.followed.clear();
    m_followedAddress.clear();
    m_moving = QDeadlineTimer(0);
    m_connecting.reset();
    m_healthRead.reset();
    m_health.reset();
    m_answers.clear();
}

void AdbLink::onFirstAnswers(const QString& serial, QString address, bool askAddress) {
    std::vector<adb::CommandResult> results = m_connecting->result();
    m_connecting.release()->deleteLater(); // it is the sender
    if (serial != m_state.followed)
        return;
    if (askAddress) {
        const adb::CommandResult found = std::move(results.back());
        results.pop_back();
        if (found.error) {
            note(QStringLiteral("the address of %1: %2")
                     .arg(adb::printable(serial), QString::fromUtf8(found.error->what())));
        } else {
            address = adb::addressFrom(found.output);
        }
    }
    noteDetails(results);
    m_answers.keep(serial, std::move(results));
    m_announced = true;
    m_followedAddress = address;
    updateStatus();
    emit ConnectionEvent(EventConnected, QString());
    if (!address.isEmpty())
        emit ConnectionEvent(EventAddress, address);
    if (serial == m_state.followed)
        readHealth(serial);
}

void AdbLink::readHealth(const QString& serial) {
    m_healthRead = std::make_unique<AnswersWatcher>();
    connect(m_healthRead.get(), &AnswersWatcher::finished, this, [this, serial] {
        const std::vector<adb::CommandResult> results = m_healthRead->result();
        m_healthRead.release()->deleteLater(); // it is the sender
        if (serial != m_state.followed || results.empty() || results[0].error)
            return;
        m_health = adb::parseBatteryCapacity(QString::fromUtf8(results[0].output));
        DeviceDetails shown = details();
        adb::addBatteryCapacity(shown, m_health);
        setDetails(shown);
    });
    // Nobody waits for it: it may take longer than a query, never more than it may read.
    adb::Limits limits = m_limits;
    limits.deadlineMs *= 3;
    m_healthRead->setFuture(QtConcurrent::run([server = m_server, serial, limits] {
        return adb::runDeviceCommands(server, serial, {adb::command::BatteryHealth}, limits);
    }));
}

void AdbLink::readBattery() {
    if (!m_announced || m_batteryRead)
        return;
    const QString serial = m_state.followed;
    m_batteryRead = std::make_unique<QFutureWatcher<DeviceReading>>();
    connect(m_batteryRead.get(), &QFutureWatcherBase::finished, this, [this, serial] {
        const DeviceReading battery = m_batteryRead->result();
        m_batteryRead.release()->deleteLater();
        // A device that went, or another shown since, is not this reading's.
        if (m_announced && serial == m_state.followed)
            emit batteryRead(battery);
    });
    m_batteryRead->setFuture(QtConcurrent::run(adb::batteryOnce, m_server, serial, m_limits));
}

QByteArray AdbLink::answer(const char* query, Asked asked, adb::command::Refresh command) {
    if (m_state.followed.isEmpty())
        throw DeviceLinkError("No device is connected.");
    // A query these answers already served begins the next refresh: fetch anew.
    if (m_answers.stale(m_state.followed, asked)) {
        std::vector<adb::CommandResult> results =
            adb::runDeviceCommands(m_server, m_state.followed, adb::command::RefreshSet, m_limits);
        noteDetails(results);
        m_answers.keep(m_state.followed, std::move(results));
    }
    const adb::CommandResult& result = m_answers.take(asked)[command];
    if (result.error)
        throw DeviceLinkError(QStringLiteral("%1 on %2: %3")
                                  .arg(QLatin1String(query), m_state.followed,
                                       QString::fromUtf8(result.error->what()))
                                  .toStdString());
    return result.output;
}

DeviceValue AdbLink::GetMemoryStatus(DeviceValue& Total, DeviceValue& Available) {
    return device::report(
        adb::memoryFrom(answer("GetMemoryStatus", AskedMemory, adb::command::MemoryAt)), Total,
        Available);
}

DeviceValue AdbLink::GetStorageStatus(DeviceValue& Total, DeviceValue& Free) {
    return device::report(
        adb::storageFrom(answer("GetStorageStatus", AskedStorage, adb::command::StorageAt)), Total,
        Free);
}

DeviceValue AdbLink::ProcessorType() {
    return DeviceValue(double(
        adb::processorFrom(answer("ProcessorType", AskedProcessor, adb::command::ProcessorAt))));
}

DeviceValue AdbLink::GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                                    DeviceValue& BatteryLifeTime,
                                    DeviceValue& BatteryFullLifeTime) {
    return device::report(
        adb::powerFrom(answer("GetPowerStatus", AskedPower, adb::command::PowerAt)), BatteryFlag,
        BatteryLifePercent, BatteryLifeTime, BatteryFullLifeTime);
}

DeviceValue AdbLink::ACLineStatus() {
    return DeviceValue(
        double(adb::mainsFrom(answer("ACLineStatus", AskedMains, adb::command::PowerAt))));
}

DeviceValue AdbLink::GetSystemMetric(qint32 Index) {
    if (Index != 0 && Index != 1)
        return DeviceValue(0.0);
    const QSize size = adb::screenFrom(
        answer("GetSystemMetric", Index == 0 ? AskedWidth : AskedHeight, adb::command::ScreenAt));
    if (!size.isValid())
        return DeviceValue(0.0);
    return DeviceValue(double(Index == 0 ? size.width() : size.height()));
}

DeviceValue AdbLink::ReadRegistryValue(qint32 Root, const QString& Key, const QString& ValueName) {
    if (Root != 2 || Key != QLatin1String("IDENT") || ValueName != QLatin1String("name"))
        return DeviceValue();
    const QString name =
        adb::nameFrom(answer("ReadRegistryValue", AskedName, adb::command::NameAt));
    return name.isEmpty() ? DeviceValue() : DeviceValue(name);
}
