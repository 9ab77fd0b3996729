// When a reading of the device shown becomes a record: the first reading with its battery's
// health after each connection, then at most one a day while it stays connected. Values a
// device could not have are not kept.
#pragma once

#include "device_link/device_details.h"
#include "history/history_record.h"

#include <QDateTime>

#include <functional>
#include <optional>

namespace history {

// A record of what DETAILS say of the battery of the device SERIAL of KIND,
// at TIME; none where they say nothing of its health.
std::optional<Record> recordFrom(const QString& serial, DeviceKind kind, const QString& name,
                                 const DeviceDetails& details, const QDateTime& time);

class Recorder {
public:
    using Clock = std::function<QDateTime()>;
    explicit Recorder(Clock clock = &QDateTime::currentDateTimeUtc);

    // The device shown changed, or went: the next reading with health is recorded at once.
    void newConnection();
    // What to write of this reading of the device shown, where anything is due.
    std::optional<Record> offer(const QString& serial, DeviceKind kind, const QString& name,
                                const DeviceDetails& details);

private:
    Clock m_clock;
    QString m_serial;      // recorded in this connection
    QDateTime m_lastWrite; // of it
};

} // namespace history
