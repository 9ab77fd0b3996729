#include "device_link/ios/ios_link.h"

#include "device_link/device_facts.h"
#include "device_link/ios/ios_reader.h"

#include <libimobiledevice/libimobiledevice.h>

#include <QFile>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

void note(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

// The library has one event subscription for the whole process, and calls it on a thread of its
// own. The hub owns that subscription and hands each event, and each finished read, to the links
// still alive, on the window's thread. It is never freed: a late call may still post to it.
class EventHub : public QObject {
public:
    static EventHub& instance() {
        static EventHub* hub = new EventHub;
        return *hub;
    }

    quint64 attach(IosLink* link) {
        const quint64 id = m_next++;
        m_links.insert(id, link);
        subscribed();
        return id;
    }

    // LISTENER hears that a device came or went.
    quint64 listen(std::function<void()> listener) {
        const quint64 id = m_next++;
        m_listeners.insert(id, std::move(listener));
        subscribed();
        return id;
    }

    void detach(quint64 id) {
        m_links.remove(id);
        m_listeners.remove(id);
        // Never from inside the callback: this runs on the window's thread.
        if (idle()) {
            m_check.stop();
            idevice_event_unsubscribe();
            m_heard.clear();
        }
    }

    // From any thread: runs WORK on the window's thread if link ID is still there.
    void post(quint64 id, std::function<void(IosLink&)> work) {
        QMetaObject::invokeMethod(
            this,
            [this, id, work = std::move(work)] {
                if (IosLink* link = m_links.value(id))
                    work(*link);
            },
            Qt::QueuedConnection);
    }

private:
    bool idle() const { return m_links.isEmpty() && m_listeners.isEmpty(); }

    // The library's subscription, made for the first that attaches.
    void subscribed() {
        if (m_links.size() + m_listeners.size() == 1) {
            idevice_event_subscribe(&EventHub::onEvent, this);
            m_check.start();
        }
    }

    EventHub() {
        m_check.setInterval(2000);
        m_check.setTimerType(Qt::CoarseTimer);
        connect(&m_check, &QTimer::timeout, this, &EventHub::check);
    }

    // usbmuxd often starts after the subscription (udev starts it when a device is plugged in),
    // and the library does not always reach it then. A slow check lists the devices on a
    // connection of its own; one that no event reported means the subscription went deaf, and
    // it is made anew, which reports every device again.
    void check() {
        if (m_checking)
            return;
        m_checking = true;
        const bool started = device::runInBackground([this] {
            QSet<QString> listed;
            idevice_info_t* list = nullptr;
            int count = 0;
            if (idevice_get_device_list_extended(&list, &count) == IDEVICE_E_SUCCESS) {
                for (int i = 0; i < count; ++i) {
                    if (list[i]->conn_type == CONNECTION_USBMUXD && list[i]->udid)
                        listed.insert(udidText(list[i]->udid));
                }
                idevice_device_list_extended_free(list);
            }
            QMetaObject::invokeMethod(
                this,
                [this, listed]() mutable {
                    m_checking = false;
                    if (idle() || listed.subtract(m_heard).isEmpty())
                        return;
                    idevice_event_unsubscribe();
                    idevice_event_subscribe(&EventHub::onEvent, this);
                },
                Qt::QueuedConnection);
        });
        m_checking = started;
    }

    static QString udidText(const char* udid) {
        return device::printable(QString::fromUtf8(udid), 128);
    }

    static void onEvent(const idevice_event_t* event, void* userData) {
        // Devices on the network come with no trust of their own to explain: USB only.
        if (!event || !event->udid || event->conn_type != CONNECTION_USBMUXD)
            return;
        auto* hub = static_cast<EventHub*>(userData);
        const int type = int(event->event);
        const QString udid = udidText(event->udid);
        QMetaObject::invokeMethod(
            hub,
            [hub, type, udid] {
                if (type == IDEVICE_DEVICE_ADD)
                    hub->m_heard.insert(udid);
                else if (type == IDEVICE_DEVICE_REMOVE)
                    hub->m_heard.remove(udid);
                for (const quint64 id : hub->m_links.keys()) {
                    if (IosLink* link = hub->m_links.value(id))
                        link->onDeviceEvent(type, udid);
                }
                for (const quint64 id : hub->m_listeners.keys()) {
                    if (const auto listener = hub->m_listeners.value(id))
                        listener();
                }
            },
            Qt::QueuedConnection);
    }

    QHash<quint64, IosLink*> m_links;
    QHash<quint64, std::function<void()>> m_listeners;
    quint64 m_next = 1;
    QSet<QString> m_heard; // attached, as the events tell
    QTimer m_check;
    bool m_checking = false;
};

bool retryable(ios::ReadError error) {
    return error == ios::ReadError::Locked || error == ios::ReadError::Other ||
           error == ios::ReadError::NoDevice;
}

bool usbmuxdInstalled() {
    return !qEnvironmentVariableIsEmpty("USBMUXD_SOCKET_ADDRESS") ||
           QFile::exists(QStringLiteral("/usr/sbin/usbmuxd")) ||
           QFile::exists(QStringLiteral("/var/run/usbmuxd"));
}

} // namespace

namespace ios {

std::shared_ptr<void> followDevices(std::function<void()> changed) {
    const quint64 id = EventHub::instance().listen(std::move(changed));
    return std::shared_ptr<void>(nullptr, [id](void*) { EventHub::instance().detach(id); });
}

} // namespace ios

IosLink::IosLink(QObject* parent) : KindLink(parent) {
    m_state.usbmuxdInstalled = usbmuxdInstalled();
    updateStatus();
    m_readDeadline.setSingleShot(true);
    connect(&m_readDeadline, &QTimer::timeout, this, [this] { onReadTimedOut(m_readGeneration); });
    // A battery read past its deadline has failed; a library call stuck in it still holds the
    // next one back, so that reads never pile up behind a device that hangs.
    m_batteryDeadline.setSingleShot(true);
    connect(&m_batteryDeadline, &QTimer::timeout, this, [this] {
        batteryFailed(QStringLiteral("no answer within %1 s").arg(m_timing.deadlineMs / 1000.0));
    });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        for (ios::AttachedDevice& d : m_state.devices) {
            if (retryable(d.error))
                d.error = ios::ReadError::None;
        }
        consider();
    });
    m_id = EventHub::instance().attach(this);
}

IosLink::~IosLink() {
    EventHub::instance().detach(m_id);
}

void IosLink::setWantedSerial(const QString& serial, const QString& from) {
    choose(serial, from, false);
}

void IosLink::standAside(const QString& serial, const QString& from) {
    choose(serial, from, true);
}

void IosLink::choose(const QString& serial, const QString& from, bool aside) {
    m_state.wanted = serial.trimmed();
    m_state.wantedFrom = from;
    m_state.aside = aside;
    if (unwanted(m_state.followed, m_state.wanted))
        letFollowedGo(EventRemoved);
    consider();
}

std::vector<AttachedDevice> IosLink::attachedDevices() const {
    std::vector<AttachedDevice> out;
    for (const ios::AttachedDevice& d : m_state.devices) {
        AttachedDevice device =
            m_known.value(d.udid, {d.udid, DeviceKind::Apple, QStringLiteral("iPhone"), {}, {}});
        device.state = ios::stateWord(d.error);
        out.push_back(device);
    }
    return out;
}

ios::AttachedDevice* IosLink::attached(const QString& udid) {
    for (ios::AttachedDevice& d : m_state.devices) {
        if (d.udid == udid)
            return &d;
    }
    return nullptr;
}

void IosLink::onDeviceEvent(int event, const QString& udid) {
    if (event == IDEVICE_DEVICE_ADD) {
        if (!attached(udid)) {
            m_state.devices.push_back({udid, ios::ReadError::None, QString()});
            if (!m_known.contains(udid))
                identify(udid);
        }
    } else if (event == IDEVICE_DEVICE_REMOVE) {
        std::erase_if(m_state.devices, [&udid](const auto& d) { return d.udid == udid; });
        if (m_state.followed == udid)
            letFollowedGo(EventRemoved);
    } else if (event == IDEVICE_DEVICE_PAIRED) {
        // usbmuxd paired it once the user tapped Trust: read it again.
        if (ios::AttachedDevice* d = attached(udid))
            d->error = ios::ReadError::None;
    }
    consider();
}

void IosLink::identify(const QString& udid) {
    const auto ask = [udid, id = m_id] {
        const QVariantMap general = ios::publicValues(udid.toStdString());
        // Taken whenever it comes, as a full read says the same; an answer that did not come
        // never unnames a device read meanwhile.
        EventHub::instance().post(id, [udid, general](IosLink& link) {
            if (general.isEmpty())
                return;
            link.m_known.insert(
                udid,
                {udid, DeviceKind::Apple, ios::kindWord(general), ios::deviceName(general), {}});
            link.updateStatus();
        });
    };
    // Where no thread can be had, it stays unnamed until read.
    device::runInBackground(ask);
}

void IosLink::consider() {
    if (m_state.followed.isEmpty()) {
        for (const ios::AttachedDevice& d : m_state.devices) {
            if ((!m_state.wanted.isEmpty() && d.udid != m_state.wanted) ||
                d.error != ios::ReadError::None)
                continue;
            m_state.followed = d.udid;
            m_announced = false;
            m_answers.clear();
            ++m_readGeneration;
            // Read in full before code 0, so that its refresh does not wait on the device.
            m_handle = std::make_shared<ios::DeviceHandle>(d.udid.toStdString());
            m_connecting = launch(true);
            m_readDeadline.start(m_timing.deadlineMs);
            break;
        }
    }
    updateStatus();
}

std::shared_future<ios::Reading> IosLink::launch(bool notify) {
    auto promise = std::make_shared<std::promise<ios::Reading>>();
    std::shared_future<ios::Reading> future = promise->get_future().share();
    // A thread of its own, left to finish however long a stuck library call takes: what it
    // returns goes only to the promise it shares, and to a link only if that is still there.
    const bool started = device::runInBackground(
        [handle = m_handle, promise, id = m_id, generation = m_readGeneration, notify] {
            bool delivered = false;
            const auto deliver = [&](ios::Reading reading) {
                delivered = true;
                promise->set_value(std::move(reading));
                if (notify)
                    EventHub::instance().post(
                        id, [generation](IosLink& link) { link.onReadDone(generation); });
            };
            try {
                ios::readDevice(*handle, deliver);
            } catch (...) { // out of memory: no answer either
                if (!delivered)
                    promise->set_exception(std::current_exception());
            }
        });
    if (!started)
        promise->set_value({ios::ReadError::Other, QStringLiteral("no thread to read it on"), {}});
    return future;
}

void IosLink::readBattery() {
    if (!m_announced || m_batteryReading)
        return;
    m_batteryReading =
        device::runInBackground([handle = m_handle, id = m_id, generation = m_readGeneration] {
            ios::Reading reading;
            try {
                ios::readBattery(*handle, [&reading](ios::Reading r) { reading = std::move(r); });
            } catch (...) { // out of memory: no reading
                reading.error = ios::ReadError::Other;
            }
            EventHub::instance().post(id, [generation, reading](IosLink& link) {
                link.onBatteryRead(generation, reading);
            });
        });
    if (m_batteryReading)
        m_batteryDeadline.start(m_timing.deadlineMs);
}

void IosLink::onBatteryRead(quint64 generation, const ios::Reading& reading) {
    m_batteryReading = false;
    // Failed at its deadline already, or a device that went, or another shown since.
    if (!m_batteryDeadline.isActive() || generation != m_readGeneration || !m_announced)
        return;
    m_batteryDeadline.stop();
    if (reading.error != ios::ReadError::None)
        return batteryFailed(ios::remedy({m_state.followed, reading.error, reading.detail}));
    DeviceReading battery = ios::readingFrom(m_state.followed, reading.domains);
    battery.name.clear();
    emit batteryRead(battery);
}

void IosLink::batteryFailed(const QString& why) {
    m_batteryDeadline.stop();
    DeviceReading failed;
    failed.serial = m_state.followed;
    failed.kind = DeviceKind::Apple;
    failed.error = why;
    emit batteryRead(failed);
}

void IosLink::onReadDone(quint64 generation) {
    if (generation != m_readGeneration || !m_connecting.valid())
        return;
    m_readDeadline.stop();
    ios::Reading reading;
    try {
        reading = m_connecting.get();
    } catch (const std::exception& e) {
        reading.error = ios::ReadError::Other;
        reading.detail = QString::fromUtf8(e.what());
    }
    m_connecting = {};
    finishRead(reading);
}

void IosLink::onReadTimedOut(quint64 generation) {
    if (generation != m_readGeneration)
        return;
    ++m_readGeneration; // what the read still returns is dropped
    m_connecting = {};
    ios::Reading reading;
    reading.error = ios::ReadError::Other;
    reading.detail = QStringLiteral("no answer within %1 s").arg(m_timing.deadlineMs / 1000.0);
    finishRead(reading);
}

void IosLink::finishRead(const ios::Reading& reading) {
    ios::AttachedDevice* d = attached(m_state.followed);
    if (reading.error != ios::ReadError::None) {
        if (d) {
            d->error = reading.error;
            d->detail = reading.detail;
        }
        unfollow();
        if (retryable(reading.error))
            m_retry.start(m_timing.retryMs);
        consider();
        return;
    }
    m_state.followedName = ios::deviceName(reading.domains.general);
    m_known.insert(m_state.followed,
                   {m_state.followed, DeviceKind::Apple, ios::kindWord(reading.domains.general),
                    m_state.followedName, QString()});
    noteDetails(reading.domains);
    m_answers.keep(m_state.followed, reading.domains);
    m_announced = true;
    updateStatus();
    emit ConnectionEvent(EventConnected, QString());
}

void IosLink::noteDetails(const ios::Domains& domains) {
    setDetails(ios::details(domains));
    if (const QString system = ios::systemText(domains.general); !system.isEmpty()) {
        m_state.system = system;
        updateStatus();
    }
}

void IosLink::forgetFollowed() {
    unfollow();
    updateStatus();
}

void IosLink::unfollow() {
    setDetails({});
    m_state.system.clear();
    m_handle.reset();
    m_state.followed.clear();
    m_state.followedName.clear();
    m_announced = false;
    m_answers.clear();
    m_connecting = {};
    ++m_readGeneration;
    m_readDeadline.stop();
    m_batteryDeadline.stop();
}

void IosLink::updateStatus() {
    if (std::vector<AttachedDevice> attached = attachedDevices(); attached != m_attached) {
        m_attached = std::move(attached);
        emit devicesChanged();
    }
    m_state.reading = !m_state.followed.isEmpty() && !m_announced;
    const QString text = ios::statusText(m_state);
    if (text == m_statusText)
        return;
    m_statusText = text;
    if (!m_state.aside)
        note(text);
    emit statusChanged(text);
}

const ios::Domains& IosLink::answer(const char* query, Asked asked) {
    if (!m_announced)
        throw DeviceLinkError("No device is connected.");
    const QString udid = m_state.followed;
    // A query these answers already served begins the next refresh: one session for it.
    if (m_answers.stale(udid, asked)) {
        const std::shared_future<ios::Reading> future = launch(false);
        const auto fail = [&](const QString& why) {
            return DeviceLinkError(
                QStringLiteral("%1 on %2: %3").arg(QLatin1String(query), udid, why).toStdString());
        };
        if (future.wait_for(std::chrono::milliseconds(m_timing.deadlineMs)) !=
            std::future_status::ready)
            throw fail(QStringLiteral("no answer within %1 s").arg(m_timing.deadlineMs / 1000.0));
        ios::Reading reading;
        try {
            reading = future.get();
        } catch (const std::exception& e) {
            throw fail(QString::fromUtf8(e.what()));
        }
        if (reading.error != ios::ReadError::None)
            throw fail(ios::remedy(ios::AttachedDevice{udid, reading.error, reading.detail}));
        noteDetails(reading.domains);
        m_answers.keep(udid, std::move(reading.domains));
    }
    return m_answers.take(asked);
}

DeviceValue IosLink::GetMemoryStatus(DeviceValue&, DeviceValue&) {
    if (!m_announced)
        throw DeviceLinkError("No device is connected.");
    // No service of an iPhone gives its physical memory.
    return DeviceValue(0.0);
}

DeviceValue IosLink::GetStorageStatus(DeviceValue& Total, DeviceValue& Free) {
    return device::report(ios::storage(answer("GetStorageStatus", AskedStorage).disk), Total, Free);
}

DeviceValue IosLink::ProcessorType() {
    return DeviceValue(double(ios::processorCode(answer("ProcessorType", AskedProcessor).general)));
}

DeviceValue IosLink::GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                                    DeviceValue& BatteryLifeTime,
                                    DeviceValue& BatteryFullLifeTime) {
    const ios::Domains& domains = answer("GetPowerStatus", AskedPower);
    return device::report(ios::power(domains.battery, domains.batteryRegistry), BatteryFlag,
                          BatteryLifePercent, BatteryLifeTime, BatteryFullLifeTime);
}

DeviceValue IosLink::ACLineStatus() {
    return DeviceValue(double(ios::mainsStatus(answer("ACLineStatus", AskedMains).battery)));
}

DeviceValue IosLink::GetSystemMetric(qint32 Index) {
    if (Index != 0 && Index != 1)
        return DeviceValue(0.0);
    const QSize size =
        ios::screenSize(answer("GetSystemMetric", Index == 0 ? AskedWidth : AskedHeight).itunes);
    if (!size.isValid())
        return DeviceValue(0.0);
    return DeviceValue(double(Index == 0 ? size.width() : size.height()));
}

DeviceValue IosLink::ReadRegistryValue(qint32 Root, const QString& Key, const QString& ValueName) {
    if (Root != 2 || Key != QLatin1String("IDENT") || ValueName != QLatin1String("name"))
        return DeviceValue();
    const QString name = ios::deviceName(answer("ReadRegistryValue", AskedName).general);
    return name.isEmpty() ? DeviceValue() : DeviceValue(name);
}
