// The device link for iPhones and iPads: hears usbmuxd's device events through libimobiledevice,
// follows the first device that can be read (or only the chosen UDID), and answers the window's
// queries from one lockdownd session a refresh. Library calls block, so they run on threads of
// their own; a query waits for them at most its deadline.
#pragma once

#include "device_link/ios/ios_status.h"
#include "device_link/kind_link.h"
#include "device_link/refresh_answers.h"

#include <QHash>
#include <QTimer>

#include <functional>
#include <future>
#include <memory>
#include <optional>

class IosLink final : public KindLink {
    Q_OBJECT
public:
    explicit IosLink(QObject* parent = nullptr);
    ~IosLink() override;

    struct Timing {
        int deadlineMs = 3000; // one read: a session and every domain
        int retryMs = 2000;    // a device that did not answer, or was locked
    };
    void setTiming(const Timing& timing) { m_timing = timing; }

    QString statusText() const override { return m_statusText; }
    bool hasDevice() const override { return m_announced; }
    void setWantedSerial(const QString& serial, const QString& from) override;
    void standAside(const QString& serial, const QString& from) override;
    // The UDID of the device followed, empty when none.
    QString followedSerial() const override { return m_state.followed; }
    std::vector<AttachedDevice> attachedDevices() const override;
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

    // Library events reach links through this, on the window's thread.
    void onDeviceEvent(int event, const QString& udid);

private:
    enum Asked : quint32 {
        AskedName = 1,
        AskedStorage = 2,
        AskedProcessor = 4,
        AskedPower = 8,
        AskedMains = 16,
        AskedWidth = 32,
        AskedHeight = 64,
    };

    // Reads the followed device on a thread of its own; NOTIFY: onReadDone follows.
    std::shared_future<ios::Reading> launch(bool notify);
    void onReadDone(quint64 generation);
    void onBatteryRead(quint64 generation, const ios::Reading& reading);
    void batteryFailed(const QString& why);
    void onReadTimedOut(quint64 generation);
    void finishRead(const ios::Reading& reading);
    void consider();
    void choose(const QString& serial, const QString& from, bool aside);
    // Asks a device just attached its name and class, which it gives without a session.
    void identify(const QString& udid);
    // The details and the system version from a reading.
    void noteDetails(const ios::Domains& domains);
    void forgetFollowed() override;
    void unfollow();
    ios::AttachedDevice* attached(const QString& udid);
    const ios::Domains& answer(const char* query, Asked asked);
    void updateStatus();

    quint64 m_id;
    Timing m_timing;
    ios::LinkState m_state;
    QString m_statusText;
    bool m_announced = false;
    quint64 m_readGeneration = 0;
    std::shared_ptr<ios::DeviceHandle> m_handle; // the device followed
    std::shared_future<ios::Reading> m_connecting;
    QTimer m_readDeadline;
    bool m_batteryReading = false; // a read of the battery is under way
    QTimer m_batteryDeadline;
    QTimer m_retry;
    RefreshAnswers<ios::Domains> m_answers{this};
    QHash<QString, AttachedDevice> m_known; // names and kinds of devices read, by UDID
    std::vector<AttachedDevice> m_attached; // as last told
};

namespace ios {

// CHANGED is called, on the thread that first followed, each time usbmuxd reports an iPhone or
// iPad plugged in or out by USB, until the handle returned is let go.
std::shared_ptr<void> followDevices(std::function<void()> changed);

} // namespace ios
