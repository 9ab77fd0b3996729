// The device link: the one component through which the window learns about the attached device.
// Queries are synchronous; connection changes arrive through ConnectionEvent on the window's
// thread.
#pragma once

#include "device_link/device_value.h"

#include <QObject>
#include <QString>

#include <stdexcept>

// What a query raises when it cannot be answered at all.
class DeviceLinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Pelorin : public QObject {
    Q_OBJECT
public:
    // Dispatch identifiers under which the window invokes each query.
    static constexpr int DispidGetMemoryStatus = 67;
    static constexpr int DispidGetStorageStatus = 75;
    static constexpr int DispidProcessorType = 12;
    static constexpr int DispidGetPowerStatus = 13;
    static constexpr int DispidACLineStatus = 59;
    static constexpr int DispidGetSystemMetric = 68;
    static constexpr int DispidReadRegistryValue = 51;

    // Connection event codes.
    static constexpr qint32 EventConnected = 0;
    static constexpr qint32 EventNotReady = 1;
    static constexpr qint32 EventRemoved = 2;
    static constexpr qint32 EventOffline = 4;
    static constexpr qint32 EventAddress = 5;
    static constexpr qint32 EventServerLost = 7;

    explicit Pelorin(QObject* parent = nullptr) : QObject(parent) {}
    ~Pelorin() override = default;
    Q_DISABLE_COPY_MOVE(Pelorin)

    virtual DeviceValue GetMemoryStatus(DeviceValue& Total, DeviceValue& Available) = 0;
    virtual DeviceValue GetStorageStatus(DeviceValue& Total, DeviceValue& Free) = 0;
    virtual DeviceValue ProcessorType() = 0;
    virtual DeviceValue GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                                       DeviceValue& BatteryLifeTime,
                                       DeviceValue& BatteryFullLifeTime) = 0;
    virtual DeviceValue ACLineStatus() = 0;
    virtual DeviceValue GetSystemMetric(qint32 Index) = 0;
    virtual DeviceValue ReadRegistryValue(qint32 Root, const QString& Key,
                                          const QString& ValueName) = 0;

signals:
    void ConnectionEvent(qint32 EventCode, const QString& EventText);
};
