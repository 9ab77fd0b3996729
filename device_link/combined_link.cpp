#include "device_link/combined_link.h"

namespace {

bool isGone(qint32 code) {
    return code == Pelorin::EventRemoved || code == Pelorin::EventOffline ||
           code == Pelorin::EventServerLost;
}

} // namespace

CombinedLink::CombinedLink(std::vector<Kind> kinds, QObject* parent)
    : KindLink(parent), m_kinds(std::move(kinds)) {
    Q_ASSERT(!m_kinds.empty());
    for (int i = 0; i < int(m_kinds.size()); ++i) {
        connect(kind(i), &Pelorin::ConnectionEvent, this,
                [this, i](qint32 code, const QString& text) { onEvent(i, code, text); });
        connect(kind(i), &KindLink::statusChanged, this, &CombinedLink::updateStatus);
        connect(kind(i), &KindLink::devicesChanged, this, [this] {
            tellWhoListsWhat();
            updateStatus();
            emit devicesChanged();
        });
        connect(kind(i), &KindLink::detailsChanged, this, [this, i](const DeviceDetails& details) {
            if (i == m_current)
                setDetails(details);
        });
        connect(kind(i), &KindLink::batteryRead, this, [this, i](const DeviceReading& battery) {
            if (i == m_current)
                emit batteryRead(battery);
        });
    }
    updateStatus();
}

void CombinedLink::tellWhoListsWhat() {
    // A kind that yields (UPower) leaves a device another kind lists to that kind.
    QSet<QString> shown;
    for (const Kind& k : m_kinds) {
        if (k.yields)
            continue;
        for (const AttachedDevice& d : k.link->attachedDevices())
            shown.insert(d.serial);
    }
    for (const Kind& k : m_kinds) {
        if (k.yields)
            k.link->leaveToOthers(shown);
    }
}

CombinedLink::~CombinedLink() {
    for (const Kind& k : m_kinds)
        k.link->disconnect(this);
}

void CombinedLink::onEvent(int index, qint32 code, const QString& text) {
    if (m_current < 0 && code == EventConnected) {
        m_current = index;
    } else if (code == EventConnected && index != m_current && m_wanted.isEmpty() &&
               m_kinds[std::size_t(m_current)].yields && !m_kinds[std::size_t(index)].yields) {
        m_current = index;
        updateStatus();
        emit ConnectionEvent(EventRemoved, QString());
        emit ConnectionEvent(EventConnected, QString());
        return;
    }
    // Another kind's device waits while one is followed.
    if (index != m_current)
        return;
    if (isGone(code)) {
        m_current = -1;
        for (int i = 0; i < int(m_kinds.size()); ++i) {
            if (i != index && kind(i)->hasDevice()) {
                m_current = i;
                break;
            }
        }
        updateStatus();
        emit ConnectionEvent(code, text);
        if (m_current >= 0)
            emit ConnectionEvent(EventConnected, QString());
        return;
    }
    updateStatus();
    emit ConnectionEvent(code, text);
}

void CombinedLink::readBattery() {
    if (m_current >= 0)
        kind(m_current)->readBattery();
}

QString CombinedLink::statusText() const {
    return m_statusText;
}

bool CombinedLink::hasDevice() const {
    return m_current >= 0 && kind(m_current)->hasDevice();
}

void CombinedLink::setWantedSerial(const QString& serial, const QString& from) {
    m_wanted = serial.trimmed();
    int owner = -1;
    for (int i = 0; i < int(m_kinds.size()) && !m_wanted.isEmpty(); ++i) {
        for (const AttachedDevice& d : kind(i)->attachedDevices()) {
            if (d.serial == m_wanted)
                owner = i;
        }
    }
    const auto tell = [&](int i) {
        if (owner >= 0 && i != owner)
            kind(i)->standAside(m_wanted, from);
        else
            kind(i)->setWantedSerial(m_wanted, from);
    };
    for (int i = 0; i < int(m_kinds.size()); ++i) {
        if (i != m_current)
            tell(i);
    }
    if (m_current >= 0)
        tell(m_current);
    updateStatus();
}

void CombinedLink::standAside(const QString& serial, const QString& from) {
    m_wanted = serial.trimmed();
    for (const Kind& k : m_kinds)
        k.link->standAside(m_wanted, from);
    updateStatus();
}

QString CombinedLink::followedSerial() const {
    return m_current < 0 ? QString() : kind(m_current)->followedSerial();
}

std::vector<AttachedDevice> CombinedLink::attachedDevices() const {
    std::vector<AttachedDevice> all;
    for (const Kind& k : m_kinds) {
        const std::vector<AttachedDevice> some = k.link->attachedDevices();
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

void CombinedLink::updateStatus() {
    setDetails(m_current >= 0 ? kind(m_current)->details() : DeviceDetails());
    QString text;
    if (m_current >= 0) {
        text = kind(m_current)->statusText();
        // The others, and how to show one of them instead.
        const QString shown = followedSerial();
        qsizetype others = 0;
        QStringList kinds;
        for (const AttachedDevice& d : attachedDevices()) {
            if (d.serial == shown)
                continue;
            ++others;
            if (!kinds.contains(d.label))
                kinds << d.label;
        }
        const QString which = kinds.join(QStringLiteral(", "));
        if (others == 1)
            text += QStringLiteral(" 1 more device is attached (%1): right-click to choose.")
                        .arg(which);
        else if (others > 1)
            text += QStringLiteral(" %1 more devices are attached (%2): right-click to choose.")
                        .arg(others)
                        .arg(which);
    } else {
        QStringList parts;
        for (const Kind& k : m_kinds)
            parts << k.label + u' ' + k.link->statusText();
        text = parts.join(u' ');
    }
    if (text == m_statusText)
        return;
    m_statusText = text;
    emit statusChanged(text);
}

DeviceValue CombinedLink::GetMemoryStatus(DeviceValue& Total, DeviceValue& Available) {
    return target().GetMemoryStatus(Total, Available);
}

DeviceValue CombinedLink::GetStorageStatus(DeviceValue& Total, DeviceValue& Free) {
    return target().GetStorageStatus(Total, Free);
}

DeviceValue CombinedLink::ProcessorType() {
    return target().ProcessorType();
}

DeviceValue CombinedLink::GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                                         DeviceValue& BatteryLifeTime,
                                         DeviceValue& BatteryFullLifeTime) {
    return target().GetPowerStatus(BatteryFlag, BatteryLifePercent, BatteryLifeTime,
                                   BatteryFullLifeTime);
}

DeviceValue CombinedLink::ACLineStatus() {
    return target().ACLineStatus();
}

DeviceValue CombinedLink::GetSystemMetric(qint32 Index) {
    return target().GetSystemMetric(Index);
}

DeviceValue CombinedLink::ReadRegistryValue(qint32 Root, const QString& Key,
                                            const QString& ValueName) {
    return target().ReadRegistryValue(Root, Key, ValueName);
}
