#include "device_link/adb/adb_reading.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_details.h"
#include "device_link/adb/link_status.h"

namespace adb {
namespace {

QStringList sections(const QByteArray& output, int count) {
    return splitSections(QString::fromUtf8(output), count);
}

} // namespace

QString nameFrom(const QByteArray& output) {
    const QStringList parts = sections(output, 2);
    return parseDeviceName(parts[0], parts[1]);
}

std::optional<device::ByteCounts> memoryFrom(const QByteArray& output) {
    return parseMeminfo(sections(output, 2)[0]);
}

std::optional<device::ByteCounts> storageFrom(const QByteArray& output) {
    const auto storage = parseStorage(QString::fromUtf8(output));
    return storage ? std::optional(storage->counts) : std::nullopt;
}

qint32 processorFrom(const QByteArray& output) {
    const QStringList parts = sections(output, 2);
    return processorCode(parts[0], parts[1]);
}

std::optional<device::PowerStatus> powerFrom(const QByteArray& output) {
    const QStringList parts = sections(output, 3);
    return parseBattery(parts[0], parts[1], parts[2]);
}

qint32 mainsFrom(const QByteArray& output) {
    return parseMainsStatus(sections(output, 3)[0]);
}

QSize screenFrom(const QByteArray& output) {
    return parseScreen(QString::fromUtf8(output));
}

QString addressFrom(const QByteArray& output) {
    const QStringList parts = sections(output, 2);
    return parseIpv4Address(parts[0], parts[1]);
}

std::optional<std::vector<Device>> listDevices(const ServerAddress& server, const Limits& limits,
                                               QString* error) {
    try {
        return parseDeviceList(QString::fromUtf8(hostQuery(server, "host:devices-l", limits)));
    } catch (const TransportError& e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

DeviceReading readOnce(const ServerAddress& server, const Device& device, const Limits& limits,
                       bool withHealth) {
    DeviceReading reading;
    reading.serial = device.serial;
    reading.kind = DeviceKind::Android;
    std::vector<QByteArray> commands = command::RefreshSet;
    const std::size_t addressAt = commands.size();
    commands.push_back(command::Address);
    const std::size_t healthAt = commands.size();
    if (withHealth)
        commands.push_back(command::BatteryHealth);
    const std::vector<CommandResult> results =
        runDeviceCommands(server, device.serial, commands, limits);
    for (std::size_t i = 0; i < addressAt; ++i) {
        if (results[i].error) {
            reading.error = QString::fromUtf8(results[i].error->what());
            return reading;
        }
    }
    const auto output = [&results](std::size_t at) { return results[at].output; };
    reading.name = nameFrom(output(command::NameAt));
    reading.memory = memoryFrom(output(command::MemoryAt));
    reading.storage = storageFrom(output(command::StorageAt));
    reading.processorCode = processorFrom(output(command::ProcessorAt));
    reading.power = powerFrom(output(command::PowerAt));
    reading.mains = mainsFrom(output(command::PowerAt));
    reading.screen = screenFrom(output(command::ScreenAt));
    // A network device's own serial says its address; a loopback one is a forwarded port.
    reading.address = networkSerialAddress(device.serial);
    if (reading.address.isEmpty() && !results[addressAt].error)
        reading.address = addressFrom(output(addressAt));
    std::vector<QByteArray> outputs;
    for (std::size_t i = 0; i < addressAt; ++i)
        outputs.push_back(output(i));
    reading.details = parseDetails(outputs);
    if (withHealth && !results[healthAt].error)
        addBatteryCapacity(reading.details,
                           parseBatteryCapacity(QString::fromUtf8(output(healthAt))));
    LinkState state;
    state.server = server;
    state.phase = ServerPhase::Up;
    state.devices = {device};
    state.followed = device.serial;
    state.system = systemText(output(command::ProcessorAt));
    reading.status = statusText(state);
    return reading;
}

DeviceReading batteryOnce(const ServerAddress& server, const QString& serial,
                          const Limits& limits) {
    DeviceReading reading;
    reading.serial = serial;
    reading.kind = DeviceKind::Android;
    const std::vector<CommandResult> results =
        runDeviceCommands(server, serial, {command::Power}, limits);
    if (results[0].error) {
        reading.error = QString::fromUtf8(results[0].error->what());
        return reading;
    }
    reading.power = powerFrom(results[0].output);
    reading.mains = mainsFrom(results[0].output);
    std::vector<QByteArray> outputs(command::RefreshCount);
    outputs[command::PowerAt] = results[0].output;
    reading.details.battery = parseDetails(outputs).battery;
    return reading;
}

} // namespace adb
