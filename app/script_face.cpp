#include "app/script_face.h"

#include "app/command_line.h"
#include "app/desktop_integration.h"
#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_reading.h"
#include "device_link/ios/ios_reader.h"
#include "device_link/kind_link.h"
#include "display/form1.h"
#include "display/text_format.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <future>
#include <vector>

namespace app {
namespace {

constexpr int kDeadlineMs = 3000;
const adb::Limits kLimits{.deadlineMs = kDeadlineMs, .maxBytes = 1 << 20};

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

void print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

QString androidState(const QString& adbState) {
    return adbState == QLatin1String("device") ? QStringLiteral("ready")
                                               : QString(adbState).replace(u' ', u'-');
}

QString iosState(ios::ReadError error) {
    switch (error) {
    case ios::ReadError::None:
        return QStringLiteral("ready");
    case ios::ReadError::TrustPending:
        return QStringLiteral("trust");
    case ios::ReadError::Locked:
        return QStringLiteral("locked");
    case ios::ReadError::Denied:
        return QStringLiteral("denied");
    case ios::ReadError::InvalidHostId:
        return QStringLiteral("untrusted");
    case ios::ReadError::Ssl:
        return QStringLiteral("ssl-error");
    case ios::ReadError::NoDevice:
    case ios::ReadError::Other:
        break;
    }
    return QStringLiteral("offline");
}

// What both kinds list, Android first, and what reading each takes.
struct Listing {
    std::vector<ListedDevice> devices;
    std::vector<adb::Device> android; // by serial, for its reader
};

// The adb server's list; as the window does, a local server that does not answer is started
// once.
std::vector<adb::Device> androidDevices(const adb::ServerAddress& server, bool mayStart) {
    QString why;
    if (auto devices = adb::listDevices(server, kLimits, &why))
        return *devices;
    const QString adbPath = QStandardPaths::findExecutable(QStringLiteral("adb"));
    if (mayStart && adb::isLocalHost(server.host) && !adbPath.isEmpty()) {
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start.setStandardOutputFile(QProcess::nullDevice());
        start.start(adbPath, {QStringLiteral("-P"), QString::number(server.port),
                              QStringLiteral("start-server")});
        start.waitForFinished(10000);
        if (auto devices = adb::listDevices(server, kLimits, &why))
            return *devices;
    }
    say(QStringLiteral("no adb server answers at %1:%2 (%3)")
            .arg(server.host, QString::number(server.port), why));
    return {};
}

// Both kinds, or only Android where ONLY names a device the adb server lists: asking an iPhone
// is a session handshake, and one that does not trust this computer yet would show its Trust
// prompt for nothing.
Listing listBoth(const adb::ServerAddress& server, bool mayStart, const QString& only = {}) {
    Listing listing;
    listing.android = androidDevices(server, mayStart);
    const bool androidOnly =
        !only.isEmpty() && std::any_of(listing.android.begin(), listing.android.end(),
                                       [&only](const adb::Device& d) { return d.serial == only; });
    const std::vector<ios::Listed> apple =
        androidOnly ? std::vector<ios::Listed>() : ios::listDevices(kDeadlineMs);
    for (const adb::Device& d : listing.android)
        listing.devices.push_back(
            {d.serial, QStringLiteral("android"), androidState(d.state), d.model});
    for (const ios::Listed& d : apple)
        listing.devices.push_back({d.udid, QStringLiteral("ios"), iosState(d.state), d.name});
    return listing;
}

// A link that answers the window's queries from one reading, so that a report's text is what
// the window itself would show.
class ReadingLink final : public KindLink {
public:
    explicit ReadingLink(DeviceReading reading) : m_reading(std::move(reading)) {
        setDetails(m_reading.details);
    }

    void connectNow() {
        emit ConnectionEvent(EventConnected, QString());
        if (!m_reading.address.isEmpty())
            emit ConnectionEvent(EventAddress, m_reading.address);
    }

    QString statusText() const override { return m_reading.status; }
    bool hasDevice() const override { return true; }
    void setWantedSerial(const QString&, const QString&) override {}
    void standAside(const QString&, const QString&) override {}
    std::vector<AttachedDevice> attachedDevices() const override { return {}; }
    QString followedSerial() const override { return m_reading.serial; }

    DeviceValue GetMemoryStatus(DeviceValue& Total, DeviceValue& Available) override {
        return device::report(m_reading.memory, Total, Available);
    }
    DeviceValue GetStorageStatus(DeviceValue& Total, DeviceValue& Free) override {
        return device::report(m_reading.storage, Total, Free);
    }
    DeviceValue ProcessorType() override { return DeviceValue(double(m_reading.processorCode)); }
    DeviceValue GetPowerStatus(DeviceValue& BatteryFlag, DeviceValue& BatteryLifePercent,
                               DeviceValue& BatteryLifeTime,
                               DeviceValue& BatteryFullLifeTime) override {
        return device::report(m_reading.power, BatteryFlag, BatteryLifePercent, BatteryLifeTime,
                              BatteryFullLifeTime);
    }
    DeviceValue ACLineStatus() override { return DeviceValue(double(m_reading.mains)); }
    DeviceValue GetSystemMetric(qint32 Index) override {
        if ((Index != 0 && Index != 1) || !m_reading.screen.isValid())
            return DeviceValue(0.0);
        return DeviceValue(
            double(Index == 0 ? m_reading.screen.width() : m_reading.screen.height()));
    }
    DeviceValue ReadRegistryValue(qint32 Root, const QString& Key,
                                  const QString& ValueName) override {
        if (Root != 2 || Key != QLatin1String("IDENT") || ValueName != QLatin1String("name") ||
            m_reading.name.isEmpty())
            return DeviceValue();
        return DeviceValue(m_reading.name);
    }

private:
    DeviceReading m_reading;
};

// The report Copy all would make of the window showing READING; empty, with why in FAILURE,
// where the window could not show it.
QString textReport(const DeviceReading& reading, QString* failure) {
    auto owned = std::make_unique<ReadingLink>(reading);
    ReadingLink& link = *owned;
    Form1 window(std::move(owned));
    QObject::connect(&window, &Form1::failureReported,
                     [failure](const QString& message) { *failure = message; });
    link.connectNow();
    return failure->isEmpty() ? report(window, reading.status, reading.details) : QString();
}

QJsonValue orNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

template <typename T> QJsonValue orNull(const std::optional<T>& value) {
    return value ? QJsonValue(*value) : QJsonValue();
}

// A share in percent, to a hundredth.
double percent(double value) {
    return std::round(value * 100) / 100;
}

QJsonValue bytesJson(const std::optional<device::ByteCounts>& counts, const char* remaining) {
    if (!counts)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("total"), qint64(counts->total)},
                       {QLatin1String(remaining), qint64(counts->remaining)},
                       {QStringLiteral("usedPercent"),
                        percent(display::usagePercent(counts->total, counts->remaining))}};
}

// A power status's seconds; its "unknown" is null.
QJsonValue seconds(double value) {
    return value >= device::kUnknownTime || value < 0 ? QJsonValue() : QJsonValue(qint64(value));
}

QJsonObject batteryJson(const DeviceReading& r) {
    const std::optional<device::PowerStatus>& p = r.power;
    const BatteryFacts& facts = r.details.battery;
    QJsonObject battery{
        {QStringLiteral("present"),
         !p || p->flag == 255 ? QJsonValue() : QJsonValue(p->flag != 128)},
        {QStringLiteral("charging"),
         !p || p->flag == 255 || p->flag == 128 ? QJsonValue() : QJsonValue(p->flag == 8)},
        {QStringLiteral("percent"), !p || p->percent > 100 ? QJsonValue() : QJsonValue(p->percent)},
        {QStringLiteral("secondsLeft"), p ? seconds(p->lifeTime) : QJsonValue()},
        {QStringLiteral("secondsToFull"), p ? seconds(p->fullLifeTime) : QJsonValue()},
        {QStringLiteral("onMains"), r.mains == 255 ? QJsonValue() : QJsonValue(r.mains == 1)},
        {QStringLiteral("health"), orNull(facts.health)},
        {QStringLiteral("temperatureC"), orNull(facts.temperatureC)},
        {QStringLiteral("voltageV"), orNull(facts.voltageV)},
        {QStringLiteral("cycles"), facts.cycles ? QJsonValue(*facts.cycles) : QJsonValue()},
        {QStringLiteral("maximumCapacity"), QJsonValue()}};
    if (const auto& c = facts.capacity)
        battery.insert(
            QStringLiteral("maximumCapacity"),
            QJsonObject{{QStringLiteral("percent"), percent(c->fullMah * 100 / c->designMah)},
                        {QStringLiteral("fullMah"), c->fullMah},
                        {QStringLiteral("designMah"), c->designMah}});
    return battery;
}

} // namespace

QJsonObject readingJson(const DeviceReading& r) {
    const ProcessorFacts& cpu = r.details.cpu;
    return QJsonObject{{QStringLiteral("schema"), kReportSchema},
                       {QStringLiteral("serial"), r.serial},
                       {QStringLiteral("kind"), r.kind},
                       {QStringLiteral("name"), orNull(r.name)},
                       {QStringLiteral("status"), r.status},
                       {QStringLiteral("address"), orNull(r.address)},
                       {QStringLiteral("memory"), bytesJson(r.memory, "available")},
                       {QStringLiteral("storage"), bytesJson(r.storage, "free")},
                       {QStringLiteral("processor"),
                        QJsonObject{{QStringLiteral("type"), r.processorCode},
                                    {QStringLiteral("abis"), QJsonArray::fromStringList(cpu.abis)},
                                    {QStringLiteral("systemOnChip"), orNull(cpu.systemOnChip)},
                                    {QStringLiteral("cores"),
                                     cpu.cores > 0 ? QJsonValue(cpu.cores) : QJsonValue()}}},
                       {QStringLiteral("battery"), batteryJson(r)},
                       {QStringLiteral("screen"),
                        r.screen.isValid()
                            ? QJsonValue(QJsonObject{{QStringLiteral("width"), r.screen.width()},
                                                     {QStringLiteral("height"), r.screen.height()}})
                            : QJsonValue()}};
}

QJsonObject listedJson(const ListedDevice& d) {
    return QJsonObject{{QStringLiteral("serial"), d.serial},
                       {QStringLiteral("kind"), d.kind},
                       {QStringLiteral("state"), d.state},
                       {QStringLiteral("name"), orNull(d.name)}};
}

QString listLine(const ListedDevice& d) {
    QStringList fields;
    for (const QString& field : {d.serial, d.kind, d.state, d.name})
        fields << display::visibleControls(field);
    return fields.join(u'\t');
}

int runScript(const CommandLine& command) {
    const adb::ServerAddress server =
        adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment());
    if (command.action == CommandLine::Action::List) {
        const Listing listing = listBoth(server, true);
        if (command.json) {
            QJsonArray array;
            for (const ListedDevice& d : listing.devices)
                array.append(listedJson(d));
            print(QJsonDocument(array).toJson());
        } else {
            for (const ListedDevice& d : listing.devices)
                print((listLine(d) + u'\n').toUtf8());
        }
        return 0;
    }

    // The devices asked for: --serial's, every ready one, or the one the window would show.
    QString wanted = command.serial;
    if (wanted.isEmpty() && !command.all)
        wanted = qEnvironmentVariable("ANDROID_SERIAL").trimmed();
    const QDeadlineTimer waiting(qint64(command.waitSeconds) * 1000);
    Listing listing;
    std::vector<ListedDevice> targets;
    for (bool first = true;; first = false) {
        listing = listBoth(server, first, wanted);
        targets.clear();
        for (const ListedDevice& d : listing.devices) {
            if (d.state == QLatin1String("ready") && (wanted.isEmpty() || d.serial == wanted))
                targets.push_back(d);
        }
        if (!command.all && targets.size() > 1)
            targets.resize(1);
        if (!targets.empty() || waiting.hasExpired())
            break;
        QThread::msleep(250);
    }
    int status = 0;
    for (const ListedDevice& d : listing.devices) {
        if (d.state == QLatin1String("ready") || (!wanted.isEmpty() && d.serial != wanted))
            continue;
        if (command.all || d.serial == wanted) {
            say(QStringLiteral("%1 is not ready (%2): not read")
                    .arg(display::visibleControls(d.serial), d.state));
            status = 1;
        }
    }
    if (targets.empty()) {
        if (status == 0)
            say(wanted.isEmpty()
                    ? QStringLiteral("no device is ready")
                    : QStringLiteral("%1 is not attached").arg(display::visibleControls(wanted)));
        return 1;
    }

    // Side by side, each within its own deadline: every device's commands at once.
    adb::reserveCommandThreads(int(targets.size() * (adb::command::RefreshSet.size() + 2)));
    std::vector<std::future<DeviceReading>> reads;
    for (const ListedDevice& target : targets) {
        if (target.kind == QLatin1String("ios")) {
            reads.push_back(std::async(std::launch::async, [serial = target.serial] {
                return ios::readOnce(serial, kDeadlineMs);
            }));
            continue;
        }
        adb::Device device;
        for (const adb::Device& d : listing.android) {
            if (d.serial == target.serial)
                device = d;
        }
        reads.push_back(std::async(std::launch::async, [server, device] {
            return adb::readOnce(server, device, kLimits);
        }));
    }
    QJsonArray array;
    QStringList texts;
    for (std::future<DeviceReading>& read : reads) {
        const DeviceReading reading = read.get();
        QString failure = reading.error;
        QString text;
        if (failure.isEmpty() && !command.json)
            text = textReport(reading, &failure);
        if (!failure.isEmpty()) {
            say(QStringLiteral("reading %1 failed: %2")
                    .arg(display::visibleControls(reading.serial), failure));
            status = 1;
            continue;
        }
        if (command.json)
            array.append(readingJson(reading));
        else
            texts << text;
    }
    if (command.json && command.all)
        print(QJsonDocument(array).toJson());
    else if (command.json && !array.isEmpty())
        print(QJsonDocument(array.first().toObject()).toJson());
    else if (!texts.isEmpty())
        print(texts.join(u'\n').toUtf8());
    return status;
}

} // namespace app
