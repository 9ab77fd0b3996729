// The device link for the batteries the desktop knows through UPower: headsets, mice,
// keyboards, controllers, UPSes. It follows the first one attached (or only the chosen one),
// and answers the window's queries from what UPower last said of it, which UPower's own
// signals keep current: a query never waits on the bus.
#pragma once

#include "device_link/kind_link.h"
#include "device_link/upower/upower_source.h"

#include <memory>

class UPowerLink final : public KindLink {
    Q_OBJECT
public:
    // SOURCE: where the devices come from; none: UPower on the system bus.
    explicit UPowerLink(std::unique_ptr<upower::Source> source = nullptr,
                        QObject* parent = nullptr);
    ~UPowerLink() override;

    QString statusText() const override { return m_statusText; }
    bool hasDevice() const override { return m_announced; }
    void setWantedSerial(const QString& serial, const QString& from) override;
    void standAside(const QString& serial, const QString& from) override;
    QString followedSerial() const override { return m_followed; }
    std::vector<AttachedDevice> attachedDevices() const override;
    void readBattery() override;
    void leaveToOthers(const QSet<QString>& serials) override;

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
    void onChanged();
    // The reading of the device followed, as UPower last said it.
    DeviceReading followedReading() const;
    QString pathOf(const QString& serial) const;
    // Whether the device at PATH is attached and this link's to show.
    bool isOurs(const QString& path, const QVariantMap& properties) const;
    void forgetFollowed() override;
    void updateStatus();

    std::unique_ptr<upower::Source> m_source;
    QString m_followed; // its serial
    bool m_announced = false;
    bool m_changing = false; // an update is on its way
    QString m_wanted;
    QString m_wantedFrom;
    bool m_aside = false;
    QString m_statusText;
    std::vector<AttachedDevice> m_attached; // as last told
    QSet<QString> m_othersShow;             // serials other kinds show
};
