#include "report/exposition.h"

#include "report/reading_values.h"

#include <QMap>

#include <functional>
#include <optional>

namespace report {
namespace {

using Labels = std::vector<std::pair<const char*, QString>>;

class Writer {
public:
    void family(const char* name, const char* type, const char* help) {
        m_name = name;
        m_out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const Labels& labels, double value) {
        m_out += m_name;
        char separator = '{';
        for (const auto& [key, text] : labels) {
            m_out += separator + QByteArray(key) + "=\"" + labelValue(text) + '"';
            separator = ',';
        }
        if (!labels.empty())
            m_out += '}';
        m_out += ' ' + shortestNumber(value) + '\n';
    }
    QByteArray text() const { return m_out; }

private:
    QByteArray m_name;
    QByteArray m_out;
};

Labels device(const WatchedDevice& d) {
    return {{"serial", d.listed.serial}, {"kind", kindName(d.listed.kind)}};
}

double flag(bool value) {
    return value ? 1 : 0;
}

// What one device's series are read from.
struct Values {
    const DeviceReading& reading;
    BatteryValues battery;
};

template <typename T> std::optional<double> maybe(const std::optional<T>& value) {
    return value ? std::optional<double>(double(*value)) : std::nullopt;
}

std::optional<double> share(const std::optional<double>& percent) {
    return percent ? std::optional<double>(*percent / 100) : std::nullopt;
}

std::optional<double> total(const std::optional<device::ByteCounts>& counts) {
    return counts ? std::optional<double>(counts->total) : std::nullopt;
}

std::optional<double> remaining(const std::optional<device::ByteCounts>& counts) {
    return counts ? std::optional<double>(counts->remaining) : std::nullopt;
}

std::optional<double> ampereHours(const std::optional<device::BatteryCapacity>& capacity,
                                  double device::BatteryCapacity::*mah) {
    return capacity ? std::optional<double>((*capacity).*mah / 1000) : std::nullopt;
}

std::optional<double> screen(const QSize& size, int (QSize::*side)() const) {
    return size.isValid() ? std::optional<double>((size.*side)()) : std::nullopt;
}

struct Gauge {
    const char* name;
    const char* help;
    std::function<std::optional<double>(const Values&)> value;
};

const Gauge kGauges[] = {
    {"device_info_battery_charge_ratio", "Battery charge, from 0 to 1.",
     [](const Values& v) { return share(v.battery.percent); }},
    {"device_info_battery_charging", "1 while the battery charges, else 0.",
     [](const Values& v) { return maybe(v.battery.charging); }},
    {"device_info_mains_online", "1 while the device is on mains power, else 0.",
     [](const Values& v) { return maybe(v.battery.onMains); }},
    {"device_info_battery_health_ratio",
     "Full charge capacity over design capacity: the battery's maximum capacity.",
     [](const Values& v) {
         return v.battery.healthPercent ? std::optional<double>(*v.battery.healthPercent / 100)
                                        : std::nullopt;
     }},
    {"device_info_battery_charge_full_ampere_hours", "What the battery holds when full.",
     [](const Values& v) {
         return ampereHours(v.battery.capacity, &device::BatteryCapacity::fullMah);
     }},
    {"device_info_battery_charge_full_design_ampere_hours", "What the battery was made to hold.",
     [](const Values& v) {
         return ampereHours(v.battery.capacity, &device::BatteryCapacity::designMah);
     }},
    {"device_info_battery_cycles", "Charge cycles the battery has been through.",
     [](const Values& v) { return maybe(v.battery.cycles); }},
    {"device_info_battery_temperature_celsius", "Battery temperature.",
     [](const Values& v) { return v.battery.temperatureC; }},
    {"device_info_battery_voltage_volts", "Battery voltage.",
     [](const Values& v) { return v.battery.voltageV; }},
    {"device_info_battery_current_amperes",
     "Current into the battery, negative while it discharges.",
     [](const Values& v) { return v.battery.currentA; }},
    {"device_info_battery_power_watts", "Power into the battery, negative while it discharges.",
     [](const Values& v) { return v.battery.powerW; }},
    {"device_info_charger_max_watts", "What the charger the device is plugged into can give.",
     [](const Values& v) { return v.battery.chargerW; }},
    {"device_info_battery_time_to_empty_seconds", "Time until the battery is empty.",
     [](const Values& v) { return maybe(v.battery.secondsLeft); }},
    {"device_info_battery_time_to_full_seconds", "Time until the battery is full.",
     [](const Values& v) { return maybe(v.battery.secondsToFull); }},
    {"device_info_memory_total_bytes", "Physical memory.",
     [](const Values& v) { return total(v.reading.memory); }},
    {"device_info_memory_available_bytes", "Physical memory available.",
     [](const Values& v) { return remaining(v.reading.memory); }},
    {"device_info_storage_total_bytes", "Storage.",
     [](const Values& v) { return total(v.reading.storage); }},
    {"device_info_storage_free_bytes", "Storage free.",
     [](const Values& v) { return remaining(v.reading.storage); }},
    {"device_info_screen_width_pixels", "Screen width.",
     [](const Values& v) { return screen(v.reading.screen, &QSize::width); }},
    {"device_info_screen_height_pixels", "Screen height.",
     [](const Values& v) { return screen(v.reading.screen, &QSize::height); }},
};

} // namespace

QByteArray labelValue(const QString& value) {
    QByteArray out;
    for (const char c : device::leftWhole(value, 256).toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray buildInfo(const QString& version, const QString& qtVersion) {
    Writer w;
    w.family("device_info_build_info", "gauge",
             "The exporter's version and the Qt it runs on, as labels; always 1.");
    w.sample({{"version", version}, {"qt_version", qtVersion}}, 1);
    return w.text();
}

QByteArray wifiConnected(const std::vector<std::pair<QString, bool>>& addresses) {
    Writer w;
    if (addresses.empty())
        return w.text();
    w.family("device_info_wifi_connected", "gauge",
             "1 while an address given with --connect is connected, else 0.");
    for (const auto& [address, connected] : addresses)
        w.sample({{"address", address}}, flag(connected));
    return w.text();
}

QByteArray exposition(const std::vector<WatchedDevice>& devices) {
    Writer w;
    if (devices.empty())
        return w.text();

    QMap<std::pair<QString, QString>, int> attached;
    for (const WatchedDevice& d : devices)
        ++attached[{kindName(d.listed.kind), d.listed.state}];
    w.family("device_info_devices", "gauge", "Attached devices by kind and state.");
    for (auto it = attached.cbegin(); it != attached.cend(); ++it)
        w.sample({{"kind", it.key().first}, {"state", it.key().second}}, it.value());

    w.family("device_info_up", "gauge",
             "1 when the device is ready and its last read succeeded, else 0.");
    for (const WatchedDevice& d : devices)
        w.sample(device(d), flag(d.up()));

    w.family("device_info_device_info", "gauge",
             "The device's state, name, model, system version, type and transport.");
    for (const WatchedDevice& d : devices) {
        const DeviceReading* r = d.reading ? &*d.reading : nullptr;
        Labels labels = device(d);
        labels.push_back({"state", d.listed.state});
        labels.push_back({"name", r && !r->name.isEmpty() ? r->name : d.listed.name});
        labels.push_back({"model", r ? r->details.system.model : QString()});
        labels.push_back({"os_version", r ? r->details.system.osVersion : QString()});
        labels.push_back({"type", r ? r->details.system.type : QString()});
        labels.push_back({"transport", d.listed.transport});
        w.sample(labels, 1);
    }

    std::vector<Values> read;
    std::vector<const WatchedDevice*> readFrom;
    for (const WatchedDevice& d : devices) {
        if (d.reading) {
            read.push_back({*d.reading, batteryValues(*d.reading)});
            readFrom.push_back(&d);
        }
    }
    for (const Gauge& gauge : kGauges) {
        bool named = false;
        for (std::size_t i = 0; i < read.size(); ++i) {
            const std::optional<double> value = gauge.value(read[i]);
            if (!value)
                continue;
            if (!named)
                w.family(gauge.name, "gauge", gauge.help);
            named = true;
            w.sample(device(*readFrom[i]), *value);
        }
    }

    const auto each = [&](const char* name, const char* type, const char* help,
                          const std::function<std::optional<double>(const WatchedDevice&)>& value) {
        bool named = false;
        for (const WatchedDevice& d : devices) {
            const std::optional<double> v = value(d);
            if (!v)
                continue;
            if (!named)
                w.family(name, type, help);
            named = true;
            w.sample(device(d), *v);
        }
    };
    each("device_info_read_duration_seconds", "gauge", "How long the last read took.",
         [](const WatchedDevice& d) { return d.readSeconds; });
    each("device_info_last_read_timestamp_seconds", "gauge",
         "When the last successful read ended, in Unix time.",
         [](const WatchedDevice& d) { return d.lastReadTime; });
    each("device_info_read_errors_total", "counter", "Failed reads since the exporter started.",
         [](const WatchedDevice& d) { return std::optional<double>(double(d.readErrors)); });
    return w.text();
}

} // namespace report
