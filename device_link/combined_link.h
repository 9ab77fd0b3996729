// The one link the window holds: it combines a link for each kind of device, follows the first
// device that becomes ready on any of them, raises that one's events and answers through it,
// and moves to a ready device of any kind when it goes. It knows the kinds only as KindLinks.
#pragma once

#include "device_link/kind_link.h"

#include <memory>
#include <vector>

class CombinedLink final : public KindLink {
    Q_OBJECT
public:
    struct Kind {
        QString label; // "Android", for the status text while no device is followed
        std::unique_ptr<KindLink> link;
        // Its device gives way to another kind's that comes, unless it was chosen: a headset
        // is shown while no phone is.
        bool yields = false;
    };
    explicit CombinedLink(std::vector<Kind> kinds, QObject* parent = nullptr);
    ~CombinedLink() override;

    QString statusText() const override;
    bool hasDevice() const override;
    // Every kind is told; the kind that shows a device it no longer wants lets it go last, so
    // that no other device shows in between. Where one kind lists the device, the others stand
    // aside.
    void setWantedSerial(const QString& serial, const QString& from) override;
    void standAside(const QString& serial, const QString& from) override;
    // The device chosen (--serial, the Device menu); empty: the first ready one.
    QString wantedSerial() const { return m_wanted; }
    // The link of the device followed; nullptr when none is.
    const KindLink* followed() const { return m_current < 0 ? nullptr : kind(m_current); }
    KindLink* followed() { return m_current < 0 ? nullptr : kind(m_current); }
    QString followedSerial() const override;
    // Every kind's, kind by kind in the order they were given.
    std::vector<AttachedDevice> attachedDevices() const override;
    // The device shown's.
    void readBattery() override;

    DeviceValue GetMemoryStatus(DeviceValue& Total, DeviceValue& Available) override;
    DeviceValue GetStorageStatus(DeviceValue& Total, DeviceValue& Free) override;
    DeviceValue ProcessorType() override;
    DeviceValue GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                               DeviceValue& BatteryLifeTime,
                               DeviceValue& BatteryFullLifeTime) override;
    DeviceValue ACLineStatus() override;
    DeviceValue GetSystemMetric(qint32 Index) override;
    DeviceValue ReadRegistryValue(qint32 Root, const QString& Key,
                                  const QString& ValueName) override;

private:
    KindLink* kind(int index) const { return m_kinds[std::size_t(index)].link.get(); }
    KindLink& target() const { return *kind(m_current < 0 ? 0 : m_current); }
    void onEvent(int index, qint32 code, const QString& text);
    void tellWhoListsWhat();
    void updateStatus();

    std::vector<Kind> m_kinds;
    int m_current = -1;
    QString m_statusText;
    QString m_wanted;
};
