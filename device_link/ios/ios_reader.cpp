#include "device_link/ios/ios_reader.h"

#include "device_link/ios/ios_status.h"
#include "device_link/ios/ios_values.h"

#include <libimobiledevice/libimobiledevice.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>

namespace ios {
namespace {

// Runs WORK on a thread of its own and waits for it at most DEADLINE_MS; a call stuck in the
// library is left to finish there, its answer dropped.
template <typename T, typename Work> std::optional<T> within(int deadlineMs, Work work) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    if (!device::runInBackground([promise, work = std::move(work)]() mutable {
            try {
                promise->set_value(work());
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        }))
        return std::nullopt;
    if (future.wait_for(std::chrono::milliseconds(deadlineMs)) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

QString timedOut(int deadlineMs) {
    return QStringLiteral("no answer within %1 s").arg(deadlineMs / 1000.0);
}

} // namespace

std::vector<QString> attachedUdids() {
    std::vector<QString> out;
    idevice_info_t* list = nullptr;
    int count = 0;
    if (idevice_get_device_list_extended(&list, &count) != IDEVICE_E_SUCCESS)
        return out;
    for (int i = 0; i < count; ++i) {
        if (list[i]->conn_type == CONNECTION_USBMUXD && list[i]->udid)
            out.push_back(device::printable(QString::fromUtf8(list[i]->udid), 128));
    }
    idevice_device_list_extended_free(list);
    return out;
}

std::vector<Listed> listDevices(int deadlineMs, const std::vector<Listed>& known) {
    std::vector<Listed> out;
    std::vector<std::future<std::optional<Probe>>> probes;
    for (const QString& udid : attachedUdids()) {
        const auto was = std::find_if(known.begin(), known.end(),
                                      [&udid](const Listed& k) { return k.udid == udid; });
        Listed listed = was != known.end() ? *was : Listed{udid, {}, {}, {}};
        if (was != known.end() && !listed.session) {
            out.push_back(std::move(listed));
            probes.emplace_back();
            continue;
        }
        if (!listed.session)
            listed.session = std::make_shared<DeviceHandle>(udid.toStdString());
        probes.push_back(std::async(std::launch::async, [session = listed.session, deadlineMs] {
            return within<Probe>(deadlineMs, [session] { return probe(*session); });
        }));
        out.push_back(std::move(listed));
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!probes[i].valid())
            continue;
        const std::optional<Probe> found = probes[i].get();
        out[i].state = found ? found->error : ReadError::Other;
        if (found && !found->name.isEmpty())
            out[i].name = found->name;
        if (out[i].state != ReadError::None)
            out[i].session.reset();
    }
    return out;
}

DeviceReading readingFrom(const QString& udid, const Domains& domains) {
    DeviceReading reading;
    reading.serial = udid;
    reading.kind = DeviceKind::Apple;
    reading.name = deviceName(domains.general);
    reading.storage = storage(domains.disk);
    reading.processorCode = processorCode(domains.general);
    reading.power = power(domains.battery, domains.batteryRegistry);
    reading.mains = mainsStatus(domains.battery);
    reading.screen = screenSize(domains.itunes);
    reading.details = details(domains);
    LinkState state;
    state.devices = {{udid, ReadError::None, QString()}};
    state.followed = udid;
    state.followedName = reading.name;
    state.system = systemText(domains.general);
    reading.status = statusText(state);
    return reading;
}

DeviceReading readOnce(const QString& udid, int deadlineMs, std::shared_ptr<DeviceHandle> session) {
    if (!session)
        session = std::make_shared<DeviceHandle>(udid.toStdString());
    const auto read = within<Reading>(deadlineMs, [session] {
        Reading reading;
        readDevice(*session, [&reading](Reading r) { reading = std::move(r); });
        return reading;
    });
    DeviceReading out;
    if (read && read->error == ReadError::None)
        return readingFrom(udid, read->domains);
    out.serial = udid;
    out.kind = DeviceKind::Apple;
    out.error = !read ? timedOut(deadlineMs) : remedy({udid, read->error, read->detail});
    return out;
}

} // namespace ios
