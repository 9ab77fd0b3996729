// The device link for Android devices: speaks the ADB host protocol to the adb server, follows
// the first ready device (or only ANDROID_SERIAL's), and answers the window's queries from what
// it prints. It says where it stands in words, for the window's tooltips and standard error.
#pragma once

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_protocol.h"
#include "device_link/adb/adb_transport.h"
#include "device_link/adb/link_status.h"
#include "device_link/adb/server_starter.h"
#include "device_link/adb/server_stream.h"
#include "device_link/adb/wifi.h"
#include "device_link/kind_link.h"
#include "device_link/refresh_answers.h"

#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace adb {
struct Device;
} // namespace adb

class AdbLink final : public KindLink {
    Q_OBJECT
public:
    // Finds the server, and the one device to follow (ANDROID_SERIAL), as adb clients do.
    AdbLink();
    // Talks to the server at a socket spec such as "tcp:localhost:5037".
    explicit AdbLink(const QString& socketSpec, QObject* parent = nullptr);
    ~AdbLink() override;

    struct Timing {
        int pollMs = 2000;      // the slow state check
        int backoffMinMs = 500; // reconnecting to a lost server
        int backoffMaxMs = 5000;
        int answerMs = 3000; // a server must answer a request within this
    };
    void setTiming(const Timing& timing) { m_timing = timing; }
    void setLimits(const adb::Limits& limits) { m_limits = limits; }
    // Whether the link may start an adb server when none answers (tests turn it off).
    void setMayStartServer(bool may) { m_mayStartServer = may; }

    const adb::ServerAddress& server() const { return m_server; }
    // The device being followed, by its serial number where it has been read; empty when none
    // is ready.
    QString followedSerial() const override;
    // Whether the device shown is attached by a transport other than Wi-Fi (USB, an emulator's)
    // and has no Wi-Fi transport yet: what Switch to Wi-Fi is for.
    bool canSwitchToWifi() const;
    // Asks the device shown to listen on PORT, and connects to it at HOST (empty: its Wi-Fi
    // address), off the window's thread; DONE follows on it with what happened and the address.
    // The device stays shown while it moves.
    void switchToWifi(const QString& host, quint16 port,
                      std::function<void(const adb::ConnectOutcome&, const QString&)> done);
    std::vector<AttachedDevice> attachedDevices() const override;
    void readBattery() override;
    void setWantedSerial(const QString& serial, const QString& from) override;
    void standAside(const QString& serial, const QString& from) override;
    QString statusText() const override { return m_statusText; }
    bool hasDevice() const override { return m_announced; }

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
    void init();
    void connectTracker();
    void onDeviceList(const QByteArray& payload);
    void onTrackerEnded(adb::ServerStream::End why, const QString& message,
                        QAbstractSocket::SocketError socketError);
    void scheduleReconnect();
    // What the server is doing now, where trying to start it changes that.
    std::optional<adb::ServerPhase> startServer();
    void poll();
    void applyDeviceList(const std::vector<adb::Device>& devices);
    // The identities of ready transports not read yet, off the window's thread.
    void readIdentities();
    // USB's addresses once more, for a Wi-Fi transport of its serial number read since.
    void readAddressesAgain(const adb::Device& usb);
    // The device a transport belongs to; nullptr where none is listed.
    const adb::AttachedAndroid* deviceOf(const QString& transport) const;
    void follow(const QString& serial);
    void choose(const QString& serial, const QString& from, bool aside);
    // Each query once per set of answers; asking one again begins a new refresh.
    enum Asked : quint32 {
        AskedName = 1,
        AskedMemory = 2,
        AskedStorage = 4,
        AskedProcessor = 8,
        AskedPower = 16,
        AskedMains = 32,
        AskedWidth = 64,
        AskedHeight = 128,
    };
    using AnswersWatcher = QFutureWatcher<std::vector<adb::CommandResult>>;

    QByteArray answer(const char* query, Asked asked, adb::command::Refresh command);
    void onFirstAnswers(const QString& serial, QString address, bool askAddress);
    // The battery's health, once a connection, after the window has filled in.
    void readHealth(const QString& serial);
    // The details and the system version from a refresh's outputs.
    void noteDetails(const std::vector<adb::CommandResult>& results);
    void forgetFollowed() override;
    void unfollow();
    void setPhase(adb::ServerPhase phase, const QString& message = QString());
    void updateStatus();

    adb::ServerAddress m_server;
    Timing m_timing;
    adb::Limits m_limits;
    std::unique_ptr<adb::ServerStream> m_tracker;
    std::unique_ptr<adb::ServerStream> m_poller;
    QTimer m_pollTimer;
    QTimer m_reconnectTimer;
    int m_backoffMs = 0;
    bool m_serverUp = false;
    bool m_mayStartServer = true;
    std::unique_ptr<adb::ServerStarter> m_starter;
    bool m_announced = false; // code 0 raised for the followed device
    std::unique_ptr<AnswersWatcher> m_connecting;
    std::unique_ptr<AnswersWatcher> m_healthRead;
    std::unique_ptr<QFutureWatcher<DeviceReading>> m_batteryRead;
    std::optional<device::BatteryCapacity> m_health; // the followed device's, once read
    RefreshAnswers<std::vector<adb::CommandResult>> m_answers{this}; // by adb::command::Refresh
    QSet<QString> m_notedNotReady; // "serial state" pairs already raised as code 1
    adb::LinkState m_state;
    QString m_statusText;
    std::vector<AttachedDevice> m_attached;       // as last told
    QHash<QString, QString> m_names;              // the names of devices read, by serial
    std::vector<adb::AttachedAndroid> m_byDevice; // of m_state.devices, one a device
    QHash<QString, adb::Identity> m_identities;   // by transport
    QSet<QString> m_identitiesReading;            // transports whose identity is being read
    QString m_followedAddress;                    // the Wi-Fi address the device shown gave
    QDeadlineTimer m_moving{0}; // while the device shown moves to Wi-Fi, it may be gone a moment
};
