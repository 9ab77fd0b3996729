#include "device_link/upower/upower_link.h"

#include "device_link/upower/upower_values.h"

#include <cstdio>

namespace {

void note(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

} // namespace

UPowerLink::UPowerLink(std::unique_ptr<upower::Source> source, QObject* parent)
    : KindLink(parent), m_source(source ? std::move(source) : std::make_unique<upower::Source>()) {
    // A burst of changes (fifty headsets' charge at once) is taken in one go, after it.
    connect(m_source.get(), &upower::Source::changed, this, [this] {
        if (!m_changing)
            QMetaObject::invokeMethod(this, &UPowerLink::onChanged, Qt::QueuedConnection);
        m_changing = true;
    });
    // UPower stopped: its devices went with it, the one shown too.
    connect(m_source.get(), &upower::Source::troubleChanged, this, &UPowerLink::onChanged);
    m_source->start();
    updateStatus();
}

UPowerLink::~UPowerLink() {
    m_source->disconnect(this);
}

void UPowerLink::setWantedSerial(const QString& serial, const QString& from) {
    m_wanted = serial.trimmed();
    m_wantedFrom = from;
    m_aside = false;
    if (unwanted(m_followed, m_wanted))
        letFollowedGo(EventRemoved);
    onChanged();
}

void UPowerLink::standAside(const QString& serial, const QString& from) {
    m_wanted = serial.trimmed();
    m_wantedFrom = from;
    m_aside = true;
    if (!m_followed.isEmpty())
        letFollowedGo(EventRemoved);
    onChanged();
}

void UPowerLink::leaveToOthers(const QSet<QString>& serials) {
    if (serials == m_othersShow)
        return;
    m_othersShow = serials;
    onChanged();
}

bool UPowerLink::isOurs(const QString& path, const QVariantMap& properties) const {
    return upower::isAttached(path, properties) &&
           !m_othersShow.contains(upower::serial(path, properties));
}

std::vector<AttachedDevice> UPowerLink::attachedDevices() const {
    std::vector<AttachedDevice> out;
    const upower::Devices& devices = m_source->devices();
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (isOurs(it.key(), it.value()))
            out.push_back({upower::serial(it.key(), it.value()), DeviceKind::UPower,
                           upower::label(it.value()), upower::name(it.value()), QString()});
    }
    return out;
}

QString UPowerLink::pathOf(const QString& serial) const {
    const upower::Devices& devices = m_source->devices();
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        if (isOurs(it.key(), it.value()) && upower::serial(it.key(), it.value()) == serial)
            return it.key();
    }
    return {};
}

void UPowerLink::onChanged() {
    m_changing = false;
    if (!m_followed.isEmpty() && pathOf(m_followed).isEmpty())
        letFollowedGo(EventRemoved);
    if (m_followed.isEmpty() && !m_aside) {
        for (const AttachedDevice& d : attachedDevices()) {
            if (!m_wanted.isEmpty() && d.serial != m_wanted)
                continue;
            m_followed = d.serial;
            m_announced = true;
            setDetails(followedReading().details);
            updateStatus();
            emit ConnectionEvent(EventConnected, QString());
            return;
        }
    }
    if (m_announced)
        setDetails(followedReading().details);
    updateStatus();
}

DeviceReading UPowerLink::followedReading() const {
    const QString path = pathOf(m_followed);
    if (!m_announced || path.isEmpty())
        throw DeviceLinkError("No device is connected.");
    return upower::reading(path, m_source->devices().value(path));
}

void UPowerLink::readBattery() {
    if (!m_announced)
        return;
    // Later, as the other kinds answer: what UPower said last is the battery's state now.
    QMetaObject::invokeMethod(
        this,
        [this, serial = m_followed] {
            // Gone meanwhile: the change that says so is on its way.
            if (!m_announced || m_followed != serial || pathOf(serial).isEmpty())
                return;
            DeviceReading battery = followedReading();
            battery.name.clear();
            emit batteryRead(battery);
        },
        Qt::QueuedConnection);
}

void UPowerLink::forgetFollowed() {
    m_followed.clear();
    m_announced = false;
    setDetails({});
    updateStatus();
}

void UPowerLink::updateStatus() {
    if (std::vector<AttachedDevice> attached = attachedDevices(); attached != m_attached) {
        m_attached = std::move(attached);
        emit devicesChanged();
    }
    QString text;
    if (m_aside)
        text = QStringLiteral("%1 was chosen (%2): devices known through UPower are ignored.")
                   .arg(device::printable(m_wanted), device::printable(m_wantedFrom));
    else if (m_announced)
        text = followedReading().status;
    else if (!m_source->trouble().isEmpty())
        text = m_source->trouble() + u'.';
    else if (!m_wanted.isEmpty())
        text = QStringLiteral("Waiting for %1 (%2) through UPower; other devices are ignored.")
                   .arg(device::printable(m_wanted), device::printable(m_wantedFrom));
    else
        text = QStringLiteral("No headset, mouse, keyboard, controller or UPS is known to UPower.");
    if (text == m_statusText)
        return;
    m_statusText = text;
    if (!m_aside)
        note(text);
    emit statusChanged(text);
}

DeviceValue UPowerLink::GetMemoryStatus(DeviceValue&, DeviceValue&) {
    followedReading();
    return DeviceValue(0.0);
}

DeviceValue UPowerLink::GetStorageStatus(DeviceValue&, DeviceValue&) {
    followedReading();
    return DeviceValue(0.0);
}

DeviceValue UPowerLink::ProcessorType() {
    return DeviceValue(double(followedReading().processorCode));
}

DeviceValue UPowerLink::GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                                       DeviceValue& BatteryLifeTime,
                                       DeviceValue& BatteryFullLifeTime) {
    return device::report(followedReading().power, BatteryFlag, BatteryLifePercent, BatteryLifeTime,
                          BatteryFullLifeTime);
}

DeviceValue UPowerLink::ACLineStatus() {
    return DeviceValue(double(followedReading().mains));
}

DeviceValue UPowerLink::GetSystemMetric(qint32) {
    followedReading();
    return DeviceValue(0.0);
}

DeviceValue UPowerLink::ReadRegistryValue(qint32 Root, const QString& Key,
                                          const QString& ValueName) {
    if (Root != 2 || Key != QLatin1String("IDENT") || ValueName != QLatin1String("name"))
        return DeviceValue();
    const QString name = followedReading().name;
    return name.isEmpty() ? DeviceValue() : DeviceValue(name);
}
