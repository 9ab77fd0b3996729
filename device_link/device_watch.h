// Every device of either kind, read again and again: what a lab's monitoring asks of one
// computer. Every interval it lists both kinds and reads each ready device side by side on
// threads of its own, as a report of all devices does; what it holds is always the last
// completed read of each, so that nobody who asks ever waits for a device.
#pragma once

#include "device_link/adb/server_starter.h"
#include "device_link/adb/server_stream.h"
#include "device_link/survey.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One device as the watch last saw it.
struct WatchedDevice {
    survey::ListedDevice listed;
    std::optional<DeviceReading> reading; // the last read, where it succeeded
    std::optional<double> readSeconds;    // how long the last read took
    std::optional<double> lastReadTime;   // when the last good read ended, in Unix seconds
    quint64 readErrors = 0;               // failed reads since the watch began
    // Ready, and its last read succeeded.
    bool up() const { return survey::isReady(listed) && reading.has_value(); }
};

class DeviceWatch final : public QObject {
    Q_OBJECT
public:
    struct Options {
        adb::ServerAddress server;
        int intervalMs = 30000;
        // An Android battery's health (a slow dump) is read when the device comes, then at most
        // this often.
        qint64 healthEveryMs = 3600 * 1000;
        bool mayStartServer = true;
        // Milliseconds on a steady clock; none: the watch's own. A test moves it.
        std::function<qint64()> clockMs;
        // Lists again as soon as the adb server or usbmuxd reports a device plugged in or out,
        // and reads what came, rather than at the next round.
        bool followChanges = false;
    };
    explicit DeviceWatch(Options options, QObject* parent = nullptr);
    ~DeviceWatch() override;
    Q_DISABLE_COPY_MOVE(DeviceWatch)

    // The first round at once, then one every interval.
    void start();
    // Every device listed in the last round, Android first, in the order the kinds list them.
    const std::vector<WatchedDevice>& devices() const { return m_devices; }
    int intervalMs() const { return m_options.intervalMs; }
    // Reads every MS from now on, a round at once: what was read stays meanwhile.
    void setIntervalMs(int ms);
    // Whether the first round is over: a listing, and a read of each device it found ended.
    bool firstRoundDone() const { return m_firstRoundDone; }

signals:
    // After every change to devices(): a list, or a read that ended.
    void changed();
    // Once, when firstRoundDone() becomes true.
    void firstRoundEnded();
    // Why the adb server gave no list, when that changes; empty once it answers again.
    void androidTrouble(const QString& why);
    // Why UPower could not be asked, when that changes; empty once it answers again.
    void upowerTrouble(const QString& why);

private:
    struct Mailbox;
    // A round; where NEW_ONLY, one that reads only the devices that have no reading yet.
    void round(bool newOnly = false);
    // The adb server's list as it changes, kept open while the watch lives.
    void track();
    void onListed(const survey::Listing& listing);
    // The first round has ended where no read of it is still under way.
    void noteRoundEnd();
    void startRead(const survey::ListedDevice& device, const survey::Listing& listing);
    void onRead(const DeviceReading& reading, double seconds, bool withHealth);
    WatchedDevice* find(const QString& serial);
    qint64 now() const;

    Options m_options;
    QTimer m_timer;
    std::shared_ptr<Mailbox> m_mailbox; // how threads hand their results back
    bool m_listing = false;
    // A local adb server of its own, where none answers: a child, which ends with the watch.
    std::unique_ptr<adb::ServerStarter> m_adbServer;
    QString m_androidTrouble;
    QString m_upowerTrouble;
    std::vector<WatchedDevice> m_devices;
    QSet<QString> m_reading; // serials with a read under way
    bool m_firstRoundDone = false;
    bool m_newOnly = false; // the listing under way is for what came
    bool m_relist = false;  // something came while a listing was under way
    QTimer m_soon;          // a change heard: a listing after the burst it came in
    std::unique_ptr<adb::ServerStream> m_tracker;
    QTimer m_retrack;
    int m_retrackMs = 0;
    std::shared_ptr<void> m_iphones; // usbmuxd's events, while they are followed
    bool m_starting = false;         // the round's reads are being started
    struct Health {
        std::optional<device::BatteryCapacity> capacity;
        qint64 readAtMs = 0;
    };
    QHash<QString, Health> m_health;            // Android devices' last health read, by serial
    QHash<QString, quint64> m_errors;           // failed reads, by serial, kept when a device goes
    QHash<QString, adb::Identity> m_identities; // Android transports', each read once a connection
    // An iPhone's lockdownd session, kept from one round to the next: a TLS handshake is most
    // of what a read costs, and each one a listing would open anew.
    QHash<QString, std::shared_ptr<ios::DeviceHandle>> m_sessions;
    QSet<QString> m_denied; // iPhones told not to trust this computer, while they stay attached
    QElapsedTimer m_clock;
};
