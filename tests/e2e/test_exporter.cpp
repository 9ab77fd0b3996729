// The exporter as a lab runs it: "device-info --serve" over simulated devices, read by the real
// promtool and scraped by a real Prometheus server, and held against hostile HTTP clients.
#include "e2e_fixture.h"

#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_reading.h"
#include "device_link/device_watch.h"
#include "report/exposition.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QTcpServer>
#include <QUrlQuery>

#include <csignal>

namespace {

const QString kIphone = QStringLiteral("00008110-001A2B3C4D5E801E");

class Exporter : public EndToEnd {
protected:
    // The exporter's environment: this harness's adb server, and a usbmuxd that is USBMUXD
    // where one is given, else one that nothing answers, never this machine's.
    QProcessEnvironment environment(const AdbHarness& adb, const QString& usbmuxd = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("ANDROID_SERIAL"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("ADB_SERVER_SOCKET"), adb.socketSpec());
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"),
                   usbmuxd.isEmpty() ? QStringLiteral("127.0.0.1:%1").arg(freePort()) : usbmuxd);
        return env;
    }

    std::unique_ptr<ExporterProcess> serve(const QProcessEnvironment& env,
                                           const QStringList& arguments = {"--interval", "1"}) {
        auto exporter =
            std::make_unique<ExporterProcess>(QStringLiteral(DEVICE_INFO_EXE), env, arguments);
        EXPECT_EQ(exporter->error(), QString());
        return exporter;
    }

    // The samples of METRIC in TEXT, by their labels.
    static QMap<QString, QString> samples(const QByteArray& text, const QString& metric) {
        QMap<QString, QString> out;
        for (const QString& line : QString::fromUtf8(text).split(u'\n')) {
            if (line.startsWith(metric + u'{'))
                out.insert(line.section(u'}', 0, 0).mid(metric.size()),
                           line.section(u'}', 1).trimmed());
        }
        return out;
    }

    SimulatorProcess* android(AdbHarness& adb, const char* profile) {
        SimulatorProcess* device = adb.startSimulator(QString::fromLatin1(profile));
        EXPECT_NE(device, nullptr) << adb.error().toStdString();
        return device;
    }

    QTemporaryDir home;
};

QString labels(const QString& serial, const char* kind) {
    return QStringLiteral("{serial=\"%1\",kind=\"%2\"").arg(serial, QLatin1String(kind));
}

TEST_F(Exporter, EveryProfileGivesMetricsThatPromtoolAccepts) {
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    ASSERT_FALSE(promtool.isEmpty()) << "promtool (Debian's prometheus) is not installed";
    std::vector<SimulatorProcess*> phones;
    for (const char* profile : {"current_phone", "older_phone", "old_tablet", "tablet_on_mains",
                                "no_network", "slow_phone", "unauthorized_phone"})
        phones.push_back(android(harness, profile));
    ASSERT_TRUE(std::all_of(phones.begin(), phones.end(), [](auto* p) { return p; }));
    ASSERT_EQ(phones.front()->control("set name Lab \"7\" \\ back"), "ok");
    SimulatorProcess* apple = harness.startIphones(
        {"current_iphone", "iphone_ios18", "ipad_on_mains", "slow_iphone", "untrusted_iphone",
         "locked_iphone", "distrusting_iphone", "forgotten_iphone", "broken_record_iphone"});
    ASSERT_NE(apple, nullptr) << harness.error().toStdString();
    const auto exporter = serve(environment(harness, apple->usbmuxdAddress()));
    ASSERT_TRUE(exporter->error().isEmpty());

    // Every ready device read: 6 Android devices, and 4 of the 9 iPhones and iPads.
    QByteArray text;
    ASSERT_TRUE(waitUntil(
        [&] {
            text = exporter->metrics();
            return samples(text, "device_info_up").values().count("1") == 10;
        },
        20000))
        << shown(text);
    // It parses, and its only remark is on the ampere-hours that node_exporter's power supplies
    // use too: promtool takes "hours" for a unit of time.
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(promtool, {"check", "metrics"});
    check.write(text);
    check.closeWriteChannel();
    ASSERT_TRUE(check.waitForFinished(10000));
    const QString said = QString::fromUtf8(check.readAll());
    EXPECT_EQ(said, "device_info_battery_charge_full_ampere_hours use base unit \"seconds\" "
                    "instead of \"hours\"\ndevice_info_battery_charge_full_design_ampere_hours "
                    "use base unit \"seconds\" instead of \"hours\"\n");
    EXPECT_EQ(check.exitCode(), 3) << "3: remarks, not errors";

    const QMap<QString, QString> up = samples(text, "device_info_up");
    EXPECT_EQ(up.size(), 16);
    EXPECT_EQ(up.value(labels(phones.back()->serial(), "android")), "0") << "unauthorized";
    const QMap<QString, QString> devices = samples(text, "device_info_devices");
    const std::pair<const char*, const char*> counted[] = {
        {"{kind=\"android\",state=\"ready\"", "6"},
        {"{kind=\"android\",state=\"unauthorized\"", "1"},
        {"{kind=\"ios\",state=\"ready\"", "4"},
        {"{kind=\"ios\",state=\"trust\"", "1"},
        {"{kind=\"ios\",state=\"locked\"", "1"},
        {"{kind=\"ios\",state=\"denied\"", "1"},
        {"{kind=\"ios\",state=\"untrusted\"", "1"},
        {"{kind=\"ios\",state=\"ssl-error\"", "1"}};
    for (const auto& [which, count] : counted)
        EXPECT_EQ(devices.value(which), count) << which;
    // The name as the device gave it, escaped as the format asks.
    EXPECT_TRUE(text.contains(labels(phones.front()->serial(), "android").toUtf8() +
                              ",state=\"ready\",name=\"Lab \\\"7\\\" \\\\ back\",model=\"lynx\","
                              "os_version=\"14\",type=\"phone\",transport=\"wifi\"} 1\n"))
        << shown(text);
    // An iPhone has no memory to give; the phone's health is full over design.
    EXPECT_FALSE(samples(text, "device_info_memory_total_bytes").contains(labels(kIphone, "ios")));
    EXPECT_EQ(samples(text, "device_info_memory_total_bytes")
                  .value(labels(phones.front()->serial(), "android")),
              "8156930048");
    EXPECT_EQ(samples(text, "device_info_battery_health_ratio").value(labels(kIphone, "ios")),
              "0.869167429094236");
    EXPECT_TRUE(exporter->standardError().startsWith(
        QStringLiteral("device-info: serving metrics at http://127.0.0.1:%1/metrics, reading "
                       "every 1 s\n")
            .arg(exporter->port())
            .toUtf8()))
        << shown(exporter->standardError());
}

// Two computers, each with its own adb server and exporter, scraped by one Prometheus.
TEST_F(Exporter, PrometheusScrapesTwoComputersAndSeesADeviceGo) {
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    ASSERT_FALSE(prometheus.isEmpty()) << "Debian's prometheus is not installed";
    AdbHarness second;
    ASSERT_EQ(second.error(), QString());
    SimulatorProcess* phone = android(harness, "current_phone");
    SimulatorProcess* tablet = android(harness, "tablet_on_mains");
    SimulatorProcess* other = android(second, "older_phone");
    SimulatorProcess* iphone = harness.startIphone(QStringLiteral("current_iphone"));
    ASSERT_TRUE(phone && tablet && other && iphone) << harness.error().toStdString();
    const auto first = serve(environment(harness, iphone->usbmuxdAddress()));
    const auto lab = serve(environment(second));
    ASSERT_TRUE(first->error().isEmpty() && lab->error().isEmpty());

    QTemporaryDir data;
    const quint16 port = freePort();
    QFile config(data.filePath("prometheus.yml"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                "scrape_configs:\n  - job_name: device-info\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1', '127.0.0.1:%2']\n")
                     .arg(first->port())
                     .arg(lab->port())
                     .toUtf8());
    config.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.setStandardOutputFile(data.filePath("prometheus.log"));
    server.start(prometheus, {"--config.file=" + config.fileName(),
                              "--storage.tsdb.path=" + data.filePath("tsdb"),
                              "--web.listen-address=127.0.0.1:" + QString::number(port)});
    const auto query = [&](const QString& promql) {
        QUrlQuery q;
        q.addQueryItem("query", promql);
        const HttpAnswer answer =
            httpGet(port, "/api/v1/query?" + q.query(QUrl::FullyEncoded).toUtf8());
        return QJsonDocument::fromJson(answer.body).object()["data"].toObject()["result"].toArray();
    };
    // Every device of both computers, up, each with its charge.
    EXPECT_TRUE(waitUntil([&] { return query("device_info_up == 1").size() == 4; }, 30000))
        << QJsonDocument(query("device_info_up")).toJson().toStdString();
    const QJsonArray charged = query("device_info_battery_charge_ratio");
    EXPECT_EQ(charged.size(), 3) << "the tablet has no battery";
    const QJsonArray worn = query("sort(device_info_battery_health_ratio)");
    ASSERT_EQ(worn.size(), 2) << QJsonDocument(worn).toJson().toStdString();
    EXPECT_EQ(worn[0]["metric"]["serial"].toString(), kIphone) << "the worst battery first";
    EXPECT_EQ(worn[0]["value"][1].toString(), "0.869167429094236");
    EXPECT_EQ(query("count by (instance) (device_info_up)").size(), 2);

    // A device unplugged on the second computer is no longer up.
    ASSERT_TRUE(second.disconnect(*other));
    const QString gone = QStringLiteral("device_info_up{serial=\"%1\"} == 1").arg(other->serial());
    EXPECT_TRUE(waitUntil([&] { return query(gone).isEmpty(); }, 15000));
    EXPECT_EQ(query("device_info_up == 1").size(), 3);
    server.terminate();
    server.waitForFinished(10000);
}

TEST_F(Exporter, HostileClientsNeverStopTheScrapes) {
    SimulatorProcess* phone = android(harness, "current_phone");
    ASSERT_NE(phone, nullptr);
    // One round at the start, and none for a minute: whatever runs on the device meanwhile, a
    // request asked for.
    const auto exporter = serve(environment(harness), {"--interval", "60"});
    // Its values, not only that it is up: the round's reading has ended.
    ASSERT_TRUE(
        waitUntil([&] { return exporter->metrics().contains("device_info_memory_total_bytes{"); }));
    const QString commands = phone->control("count");
    const auto rss = [&] {
        return residentKiB(QStringLiteral("/proc/%1/status").arg(exporter->pid()));
    };
    const long rssBefore = rss();
    const auto scrapes = [&] {
        QElapsedTimer clock;
        clock.start();
        const HttpAnswer answer = httpGet(exporter->port(), "/metrics");
        EXPECT_EQ(answer.status, 200);
        EXPECT_TRUE(answer.head.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8"));
        EXPECT_TRUE(answer.body.contains("device_info_up{"));
        EXPECT_LT(clock.elapsed(), 1000);
    };

    // 300 connections that say nothing.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, exporter->port());
    }
    for (const auto& socket : idle)
        socket->waitForConnected(1000);
    scrapes();

    // A header of 2 MiB: the connection goes, before anything near that size is kept.
    const HttpAnswer huge = httpExchange(
        exporter->port(),
        "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Junk: " + QByteArray(2 << 20, 'a') + "\r\n\r\n");
    EXPECT_NE(huge.status, 200);
    scrapes();
    EXPECT_LT(rss() - rssBefore, 8 << 10) << "KiB more after a 2 MiB header";

    // Other methods and paths.
    EXPECT_EQ(httpGet(exporter->port(), "/metrics", "POST").status, 405);
    EXPECT_EQ(httpGet(exporter->port(), "/", "DELETE").status, 405);
    EXPECT_EQ(httpGet(exporter->port(), "/admin").status, 404);
    EXPECT_EQ(httpGet(exporter->port(), "/metrics/../etc/passwd").status, 404);
    const HttpAnswer page = httpGet(exporter->port(), "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("<a href=\"/metrics\">"));

    // A client that sends a byte a second.
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, exporter->port());
    ASSERT_TRUE(slow.waitForConnected(1000));
    for (const char c : QByteArray("GET /me")) {
        slow.write(&c, 1);
        slow.flush();
        scrapes();
        QTest::qWait(1000);
    }
    EXPECT_EQ(phone->control("count"), commands) << "no request runs a device command";
    EXPECT_EQ(exporter->stop(), 0);
}

// Ctrl+C in a terminal ends it as SIGTERM does.
// A round each --interval: once the first round's health dump is behind it, a device's last
// read moves on by about that much, and no more often.
TEST_F(Exporter, ReadsEveryDeviceOnceAnInterval) {
    SimulatorProcess* phone = android(harness, "current_phone");
    ASSERT_NE(phone, nullptr);
    const auto exporter = serve(environment(harness), {"--interval", "1"});
    std::vector<double> reads;
    const QDeadlineTimer deadline(12000);
    while (reads.size() < 4 && !deadline.hasExpired()) {
        const QString at = samples(exporter->metrics(), "device_info_last_read_timestamp_seconds")
                               .value(labels(phone->serial(), "android"));
        if (!at.isEmpty() && (reads.empty() || at.toDouble() != reads.back()))
            reads.push_back(at.toDouble());
        QTest::qWait(50);
    }
    ASSERT_EQ(reads.size(), 4u);
    for (std::size_t i = 2; i < reads.size(); ++i) {
        EXPECT_GT(reads[i] - reads[i - 1], 0.5) << i;
        EXPECT_LT(reads[i] - reads[i - 1], 1.8) << i;
    }
}

// Even in the middle of a read (a slow phone's health takes 1.5 s): the read is let end within
// a second, or the program ends at once, never running into what its exit destroyed.
TEST_F(Exporter, SigintEndsItWithZeroEvenDuringARead) {
    ASSERT_NE(android(harness, "slow_phone"), nullptr);
    QProcess program;
    program.setProcessEnvironment(environment(harness));
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(DEVICE_INFO_EXE), {"--serve", "127.0.0.1:0"});
    ASSERT_TRUE(program.waitForReadyRead(10000)) << "it says where it serves, then waits";
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(program.processId()), SIGINT);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardError().endsWith("device-info: stopped\n"));
}

TEST_F(Exporter, APortInUseEndsItWithOneAndWhy) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    QProcess program;
    program.setProcessEnvironment(environment(harness));
    program.start(QStringLiteral(DEVICE_INFO_EXE),
                  {"--serve", QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_EQ(program.readAllStandardError(),
              QStringLiteral("device-info: cannot listen on 127.0.0.1 port %1: The bound address "
                             "is already in use\n")
                  .arg(taken.serverPort())
                  .toUtf8());
}

TEST_F(Exporter, SigtermEndsItWithZeroAndStopsTheAdbServerItStarted) {
    const quint16 port = freePort();
    QProcessEnvironment env = environment(harness);
    env.insert(QStringLiteral("ADB_SERVER_SOCKET"), QStringLiteral("tcp:127.0.0.1:%1").arg(port));
    const auto exporter = serve(env);
    const adb::ServerAddress own{QStringLiteral("127.0.0.1"), port};
    const auto answers = [&] {
        QString why;
        return adb::listDevices(own, {500, 4096}, &why).has_value();
    };
    ASSERT_TRUE(waitUntil(answers, 15000)) << "it starts an adb server where none answers";
    ASSERT_TRUE(waitUntil([&] { return exporter->standardError().contains("answers again"); }));
    // A technician's "adb kill-server": it starts its server again, and its devices are back.
    SimulatorProcess* phone = android(harness, "current_phone");
    ASSERT_TRUE(phone && harness.disconnect(*phone));
    const auto attach = [&] {
        const QByteArray said =
            adb::hostQuery(own, "host:connect:" + phone->serial().toUtf8(), {3000, 4096});
        return said.startsWith("connected") || said.startsWith("already connected");
    };
    const auto phoneUp = [&] {
        return samples(exporter->metrics(), "device_info_up")
                   .value(labels(phone->serial(), "android")) == "1";
    };
    ASSERT_TRUE(attach());
    ASSERT_TRUE(waitUntil(phoneUp));
    try {
        adb::hostQuery(own, "host:kill", {3000, 4096});
    } catch (const adb::TransportError&) { // it says OKAY and goes, with no length after it
    }
    ASSERT_TRUE(waitUntil([&] { return !phoneUp(); }, 5000));
    ASSERT_TRUE(waitUntil([&] { return answers() && attach(); }, 15000)) << "started again";
    EXPECT_TRUE(waitUntil(phoneUp));
    EXPECT_EQ(exporter->stop(), 0);
    const QString said = QString::fromUtf8(exporter->standardError());
    EXPECT_TRUE(said.contains(QStringLiteral("\ndevice-info: no adb server answers at "
                                             "127.0.0.1:%1 (")
                                  .arg(port)))
        << said.toStdString();
    EXPECT_EQ(said.count("device-info: the adb server answers again\n"), 2) << "once a start";
    EXPECT_EQ(said.count("no adb server answers at"), 2) << "once a loss";
    EXPECT_TRUE(said.endsWith("device-info: stopped\n"));
    EXPECT_TRUE(waitUntil([&] { return !answers(); }, 5000)) << "its adb server is gone";
}

// The watch behind the exporter, in this process: what it reads and when.
class Watch : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        // No iPhone: a usbmuxd that nothing answers, never this machine's.
        qputenv("USBMUXD_SOCKET_ADDRESS",
                QByteArray("127.0.0.1:") + QByteArray::number(freePort()));
    }
    void TearDown() override { qunsetenv("USBMUXD_SOCKET_ADDRESS"); }

    // A watch of the private server, its health read as often as the exporter's, on a clock the
    // test moves.
    std::unique_ptr<DeviceWatch> watch(int intervalMs) {
        DeviceWatch::Options options;
        options.server = harness.server();
        options.intervalMs = intervalMs;
        options.mayStartServer = false;
        options.clockMs = [this] { return clockMs; };
        auto w = std::make_unique<DeviceWatch>(options);
        w->start();
        return w;
    }
    qint64 clockMs = 0;

    static const WatchedDevice* find(const DeviceWatch& w, const QString& serial) {
        for (const WatchedDevice& d : w.devices()) {
            if (d.listed.serial == serial)
                return &d;
        }
        return nullptr;
    }

    static int count(SimulatorProcess& device, const QByteArray& command) {
        return QJsonDocument::fromJson(device.control("count").toUtf8())
            .object()
            .value(QString::fromUtf8(command))
            .toInt();
    }
};

TEST_F(Watch, BatteryHealthIsReadOnceAConnectionThenHourly) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    const QString serial = phone->serial();
    auto often = watch(200);
    const auto up = [&](const DeviceWatch& w) {
        const WatchedDevice* d = find(w, serial);
        return d && d->up();
    };
    ASSERT_TRUE(waitUntil([&] { return up(*often); }));
    // Round after round it stays up: a new round keeps the last reading until its own is in.
    bool flickered = false;
    while (count(*phone, adb::command::Memory) < 5) {
        flickered = flickered || !up(*often);
        QTest::qWait(10);
    }
    EXPECT_FALSE(flickered);
    EXPECT_EQ(count(*phone, adb::command::BatteryHealth), 1) << "once, not every round";
    // Every round's reading carries it all the same.
    EXPECT_EQ(find(*often, serial)->reading->details.battery.capacity,
              (device::BatteryCapacity{4012, 4385}));

    // Gone and back: a new connection, read anew.
    ASSERT_TRUE(harness.disconnect(*phone));
    EXPECT_TRUE(waitUntil([&] { return !find(*often, serial); }, 5000)) << "gone within a round";
    ASSERT_TRUE(harness.connect(*phone));
    EXPECT_TRUE(waitUntil([&] { return up(*often); }));
    EXPECT_EQ(count(*phone, adb::command::BatteryHealth), 2);

    // Then hourly, as the README promises: not at 59 minutes, once at 60.
    const auto rounds = [&](int n) {
        const int from = count(*phone, adb::command::Memory);
        return waitUntil([&] { return count(*phone, adb::command::Memory) >= from + n; });
    };
    clockMs += 59 * 60 * 1000;
    ASSERT_TRUE(rounds(3));
    EXPECT_EQ(count(*phone, adb::command::BatteryHealth), 2);
    clockMs += 60 * 1000;
    ASSERT_TRUE(rounds(3));
    EXPECT_EQ(count(*phone, adb::command::BatteryHealth), 3);
}

TEST_F(Watch, AHungDeviceDelaysOnlyItselfAndCountsAsAFailedRead) {
    SimulatorProcess* phone = harness.startSimulator("current_phone");
    SimulatorProcess* tablet = harness.startSimulator("tablet_on_mains");
    SimulatorProcess* locked = harness.startSimulator("unauthorized_phone");
    ASSERT_TRUE(phone && tablet && locked) << harness.error().toStdString();
    auto w = watch(300);
    ASSERT_TRUE(waitUntil([&] {
        const WatchedDevice* a = find(*w, phone->serial());
        const WatchedDevice* b = find(*w, tablet->serial());
        return a && b && a->up() && b->up();
    }));
    EXPECT_EQ(adb::commandThreads(), 2 * 9) << "every command of both at once";
    ASSERT_EQ(phone->control("hang"), "ok");
    const double before = *find(*w, tablet->serial())->lastReadTime;
    EXPECT_TRUE(waitUntil([&] { return find(*w, phone->serial())->readErrors == 1; }, 8000));
    const WatchedDevice* hung = find(*w, phone->serial());
    EXPECT_FALSE(hung->up());
    EXPECT_FALSE(hung->reading.has_value()) << "no stale values";
    EXPECT_GE(*hung->readSeconds, 2.9) << "it failed at its own deadline";
    const WatchedDevice* other = find(*w, tablet->serial());
    EXPECT_TRUE(other->up());
    EXPECT_GT(*other->lastReadTime, before + 2) << "read every round meanwhile";
    EXPECT_EQ(other->readErrors, 0u);
    ASSERT_EQ(phone->control("resume"), "ok");
    EXPECT_TRUE(waitUntil([&] { return find(*w, phone->serial())->up(); }, 8000));
    EXPECT_GE(find(*w, phone->serial())->readErrors, 1u) << "a counter keeps its count";
    // A device not ready is listed, and never read.
    const WatchedDevice* unauthorized = find(*w, locked->serial());
    ASSERT_NE(unauthorized, nullptr);
    EXPECT_EQ(unauthorized->listed.state, "unauthorized");
    EXPECT_FALSE(unauthorized->readSeconds.has_value());
    EXPECT_EQ(unauthorized->readErrors, 0u);
}

// An iPhone's session lasts from one round to the next: its TLS handshake is most of a read.
// The listing learns from it that the phone is ready; and a phone told not to trust this
// computer is asked once, not every round, so that its Trust prompt does not come back.
TEST_F(Watch, AnIphoneIsListedAndReadRoundAfterRoundOnOneSession) {
    SimulatorProcess* iphones = harness.startIphones({"current_iphone", "distrusting_iphone"});
    ASSERT_NE(iphones, nullptr) << harness.error().toStdString();
    auto w = watch(200);
    const auto counted = [&](const char* request) {
        return QJsonDocument::fromJson(iphones->control("count").toUtf8())
            .object()
            .value(QLatin1String(request))
            .toInt();
    };
    ASSERT_TRUE(waitUntil([&] { return counted("GetValue com.apple.disk_usage") >= 10; }));
    EXPECT_EQ(counted("StartSession"), 1) << "ten rounds, one session";
    EXPECT_EQ(counted("Pair"), 1) << "Don't Trust is not asked again";
    EXPECT_TRUE(find(*w, QStringLiteral("00008110-001A2B3C4D5E801E"))->up());
}

// A device that goes while it is read is never left up.
TEST_F(Watch, ADeviceThatVanishesInTheMiddleOfAReadIsNotLeftUp) {
    SimulatorProcess* phone = harness.startSimulator("slow_phone");
    ASSERT_NE(phone, nullptr) << harness.error().toStdString();
    auto w = watch(300);
    QTest::qWait(300); // its first read, with the health dump's 1.5 s, is under way
    ASSERT_EQ(phone->control("vanish"), "ok");
    const auto stale = [&] {
        const WatchedDevice* d = find(*w, phone->serial());
        return d && d->up();
    };
    QElapsedTimer clock;
    clock.start();
    bool everUp = false;
    while (clock.elapsed() < 5000) {
        everUp = everUp || stale();
        QTest::qWait(50);
    }
    EXPECT_FALSE(everUp);
    // Once listed as gone or not ready, nothing of it is kept to show.
    const WatchedDevice* d = find(*w, phone->serial());
    EXPECT_TRUE(!d || (d->listed.state != "ready" && !d->reading.has_value()))
        << (d ? d->listed.state.toStdString() : "gone");
}

} // namespace
