#include "cli/script_face.h"

#include "desktop/desktop_integration.h"
#include "device_link/kind_link.h"
#include "display/form1.h"
#include "display/text_format.h"
#include "history/history_store.h"
#include "report/history_formats.h"
#include "report/json_report.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace cli {
namespace {

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

void print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

// STATUS, or 1 where what was printed did not all reach standard output (a full disk): a
// script that finds an empty file must not be told it was read.
int written(int status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    say(QStringLiteral("cannot write to standard output: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}

using survey::ListedDevice;

// Every kind; says why where the adb server gave no list, and, on the first look, why UPower
// could not be asked.
survey::Listing listAll(const adb::ServerAddress& server, bool first, const QString& only = {}) {
    survey::Listing listing = survey::list(server, first, only);
    if (!listing.androidError.isEmpty())
        say(listing.androidError);
    if (first && !listing.upowerError.isEmpty())
        say(listing.upowerError);
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
    return failure->isEmpty() ? desktop::report(window, reading.status, reading.details)
                              : QString();
}

} // namespace

QString listLine(const ListedDevice& d) {
    QStringList fields;
    for (const QString& field : {d.serial, kindName(d.kind), d.state, d.name, d.model})
        fields << display::visibleControls(field);
    return fields.join(u'\t');
}

int runScript(const ScriptRequest& command) {
    const adb::ServerAddress server =
        adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment());
    if (command.list) {
        const survey::Listing listing = listAll(server, true);
        if (command.json) {
            QJsonArray array;
            for (const ListedDevice& d : listing.devices)
                array.append(report::listedJson(d));
            print(QJsonDocument(array).toJson());
        } else {
            for (const ListedDevice& d : listing.devices)
                print((listLine(d) + u'\n').toUtf8());
        }
        return written(0);
    }

    // The devices asked for: --serial's, every ready one, or the one the window would show.
    QString wanted = command.serial;
    if (wanted.isEmpty() && !command.all)
        wanted = qEnvironmentVariable("ANDROID_SERIAL").trimmed();
    const QDeadlineTimer waiting(qint64(command.waitSeconds) * 1000);
    survey::Listing listing;
    std::vector<ListedDevice> targets;
    for (bool first = true;; first = false) {
        listing = listAll(server, first, wanted);
        targets.clear();
        for (const ListedDevice& d : listing.devices) {
            if (survey::isReady(d) && (wanted.isEmpty() || d.serial == wanted ||
                                       d.adbSerial == wanted || d.wifiAddress == wanted))
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
        if (survey::isReady(d) || (!wanted.isEmpty() && d.serial != wanted))
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
    const std::vector<DeviceReading> readings = survey::readAll(server, listing, targets);
    QJsonArray array;
    QStringList texts;
    for (const DeviceReading& reading : readings) {
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
            array.append(report::readingJson(reading));
        else
            texts << text;
    }
    if (command.json && command.all)
        print(QJsonDocument(array).toJson());
    else if (command.json && !array.isEmpty())
        print(QJsonDocument(array.first().toObject()).toJson());
    else if (!texts.isEmpty())
        print(texts.join(u'\n').toUtf8());
    return written(status);
}

int runHistory(const QString& serial, bool json) {
    const QString path = history::defaultPath();
    std::vector<history::Record> records;
    // No file yet is a history with nothing in it.
    if (QFile::exists(path)) {
        try {
            records = history::Store(path, history::Store::Mode::Read).records(serial);
        } catch (const history::StoreError& e) {
            say(QString::fromUtf8(e.what()));
            return 1;
        }
    }
    print(json ? report::recordsJson(records) : report::recordsTsv(records));
    return written(0);
}

} // namespace cli
