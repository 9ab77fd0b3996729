#include "history/history_recorder.h"

namespace history {
namespace {

template <typename T> std::optional<T> within(const std::optional<T>& value, T low, T high) {
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

} // namespace

std::optional<Record> recordFrom(const QString& serial, DeviceKind kind, const QString& name,
                                 const DeviceDetails& details, const QDateTime& time) {
    const BatteryFacts& b = details.battery;
    // The capacity comes bounded as the window's health is; the rest is held to what a battery
    // can be.
    if (!b.capacity || serial.isEmpty())
        return std::nullopt;
    Record r;
    r.time = time.toUTC();
    r.serial = serial;
    r.kind = kind;
    r.name = name;
    r.model = details.system.model;
    r.fullMah = b.capacity->fullMah;
    r.designMah = b.capacity->designMah;
    r.cycles = within<qint64>(b.cycles, 0, 100000);
    r.temperatureC = within(b.temperatureC, -40.0, 100.0);
    r.percent = within(b.percent, 0.0, 100.0);
    r.powerW = within(b.powerW, -device::kMostWatts, device::kMostWatts);
    return r;
}

Recorder::Recorder(Clock clock) : m_clock(std::move(clock)) {}

void Recorder::newConnection() {
    m_serial.clear();
    m_lastWrite = QDateTime();
}

std::optional<Record> Recorder::offer(const QString& serial, DeviceKind kind, const QString& name,
                                      const DeviceDetails& details) {
    const QDateTime now = m_clock();
    std::optional<Record> record = recordFrom(serial, kind, name, details, now);
    if (!record)
        return std::nullopt;
    if (serial == m_serial && m_lastWrite.isValid() && m_lastWrite.secsTo(now) < 24 * 3600)
        return std::nullopt;
    m_serial = serial;
    m_lastWrite = now;
    return record;
}

} // namespace history
