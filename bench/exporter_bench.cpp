// Measures the exporter as a lab runs it, on one computer with 48 simulated Android phones of the
// slow profile and 4 simulated slow iPhones behind one simulated usbmuxd:
//   (S) 500 scrapes of "device-info --serve --interval 5" over one kept connection, as Prometheus
//       makes them, while read rounds run: median and 99th percentile;
//   (C) a round of all 52 against a round of one phone alone, in this process's watch;
//   (M) the exporter's peak resident memory with 4, 16 and 52 devices;
//   (U) its processor time a round;
//   (A) the anchor: one scrape of a script exporter that runs the per-device command loop for
//       each scrape (adb shell for each command, ideviceinfo for each domain);
//   (J) /devices.json over a kept connection, as (S); (P) the page in headless Chromium: from the
//       request to the table drawn, and its size;
//   (T) the same exporter behind a web configuration, TLS with a password (bcrypt, cost 10), at
//       52 devices: scrapes over a kept connection, a new connection's handshake with its first
//       scrape, and a request with a wrong password against one with a user that does not
//       exist, each with a password never tried before;
//   (F) the same, under a flood: 8 clients, each on a kept connection and an address of its
//       own, sending passwords never tried as fast as they are answered, while a remembered
//       scrape is made over a kept connection and over new ones;
//   (H) and beside the flood, 4 clients that pipeline 60 KB of requests for the page's script
//       and never read an answer: what they cost the exporter's memory.
//   exporter-bench [SCRAPES]
#include "adb_harness.h"
#include "bench_support.h"
#include "browser.h"
#include "device_link/device_watch.h"
#include "device_link/ios/ios_reader.h"
#include "report/exposition.h"
#include "tls_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

constexpr int kIntervalMs = 5000;

[[noreturn]] void fail(const QString& why) {
    std::fprintf(stderr, "exporter-bench: %s\n", qPrintable(why));
    std::exit(1);
}

int upCount(const QByteArray& metrics) {
    int up = 0;
    for (const QByteArray& line : metrics.split('\n'))
        up += line.startsWith("device_info_up{") && line.endsWith("} 1") ? 1 : 0;
    return up;
}

// A connection to the exporter, over TLS where TLS is given, from FROM where given.
std::unique_ptr<QSslSocket> connection(quint16 port,
                                       const std::optional<QSslConfiguration>& tls = {},
                                       const QHostAddress& from = {}) {
    auto socket = std::make_unique<QSslSocket>();
    if (!from.isNull() && !socket->bind(from))
        fail(QStringLiteral("cannot connect from %1").arg(from.toString()));
    if (tls) {
        socket->setSslConfiguration(*tls);
        socket->connectToHostEncrypted(QStringLiteral("localhost"), port);
    } else {
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    if (!(tls ? socket->waitForEncrypted(5000) : socket->waitForConnected(2000)))
        fail(QStringLiteral("no connection to the exporter: ") + socket->errorString());
    return socket;
}

// One GET of PATH on SOCKET, with AUTHORIZATION where given; its status.
int scrape(QTcpSocket& socket, const QByteArray& authorization = {},
           const QByteArray& path = "/metrics") {
    socket.write(
        "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" +
        (authorization.isEmpty() ? QByteArray() : "Authorization: " + authorization + "\r\n") +
        "\r\n");
    QByteArray got;
    qsizetype wanted = -1;
    while (wanted < 0 || got.size() < wanted) {
        if (!socket.waitForReadyRead(5000))
            fail(QStringLiteral("a scrape got no answer"));
        got += socket.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        const qsizetype at = got.indexOf("Content-Length: ");
        if (wanted < 0 && end > 0 && at > 0)
            wanted = end + 4 + got.mid(at + 16, got.indexOf('\r', at) - at - 16).toLongLong();
    }
    return got.mid(9, 3).toInt();
}

// Scrapes over one kept connection, as Prometheus does; each scrape's time in milliseconds.
std::vector<double> scrapes(quint16 port, int count, int gapMs,
                            const std::optional<QSslConfiguration>& tls = {},
                            const QByteArray& authorization = {},
                            const QByteArray& path = "/metrics") {
    const std::unique_ptr<QSslSocket> socket = connection(port, tls);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (scrape(*socket, authorization, path) != 200)
            fail(QStringLiteral("a scrape was refused"));
        times.push_back(msSince(clock));
        QThread::msleep(gapMs);
    }
    return times;
}

double percentile(std::vector<double> samples, double share);

// (P): the page in headless Chromium, loaded 20 times: from the request to the table's first
// paint (the server draws it), and to the load event (its script and style in).
std::pair<std::vector<double>, std::vector<double>> pageTimes(quint16 port) {
    std::pair<std::vector<double>, std::vector<double>> out;
    Browser browser;
    if (!browser.error().isEmpty())
        return out;
    for (int i = 0; i < 20; ++i) {
        if (!browser.open(QStringLiteral("http://127.0.0.1:%1/").arg(port)))
            fail(QStringLiteral("the page did not load"));
        spinUntil([] { return false; }, 200); // the paint is recorded after the load
        const QJsonValue t = browser.evaluate(
            QStringLiteral("(() => { const n = performance.getEntriesByType('navigation')[0];"
                           " const p = performance.getEntriesByName('first-contentful-paint')[0];"
                           " return [p ? p.startTime - n.requestStart : -1, n.loadEventEnd - "
                           "n.requestStart]; })()"));
        out.first.push_back(t[0].toDouble());
        out.second.push_back(t[1].toDouble());
    }
    return out;
}

// (T): a second exporter, over the same 52 devices, behind TLS with a password.
auto tlsRun(const QProcessEnvironment& env, int scrapeCount) {
    struct {
        std::vector<double> kept, fresh, wrongPassword, noSuchUser, floodKept, floodFresh;
        std::map<int, int> floodAnswers; // by status
        long pipelinesKiB = 0;
    } out;
    static const TlsFiles files; // kept until the end: the exporter reads them again
    if (!files.error().isEmpty())
        fail(files.error());
    const QByteArray right = "Basic " + QByteArray("prometheus:s3cret").toBase64();
    files.write("web.yml", "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
                           "basic_auth_users:\n  prometheus: " +
                               TlsFiles::bcrypt("s3cret", 10) + "\n");
    ExporterProcess exporter(
        QStringLiteral(DEVICE_INFO_EXE), env,
        {"--interval", QString::number(kIntervalMs / 1000), "--web-config", files.path("web.yml")});
    if (!exporter.error().isEmpty())
        fail(exporter.error());
    QSslConfiguration client = QSslConfiguration::defaultConfiguration();
    client.setCaCertificates(QSslCertificate::fromPath(files.path("ca.crt")));
    if (!spinUntil(
            [&] {
                const std::unique_ptr<QSslSocket> socket = connection(exporter.port(), client);
                socket->write("GET /metrics HTTP/1.1\r\nHost: localhost\r\nAuthorization: " +
                              right + "\r\nConnection: close\r\n\r\n");
                QByteArray got;
                while (socket->waitForReadyRead(2000))
                    got += socket->readAll();
                return upCount(got.mid(got.indexOf("\r\n\r\n") + 4)) == 52;
            },
            30000))
        fail(QStringLiteral("not every one of 52 devices is up behind TLS"));
    // New connections, as many as the scrapes and as far apart: rounds of reads run meanwhile
    // here too.
    const auto fresh = [&] {
        std::vector<double> times;
        for (int i = 0; i < scrapeCount; ++i) {
            QElapsedTimer clock;
            clock.start();
            const std::unique_ptr<QSslSocket> socket = connection(exporter.port(), client);
            if (scrape(*socket, right) != 200)
                fail(QStringLiteral("a new connection's scrape was refused"));
            times.push_back(msSince(clock));
            QThread::msleep(20);
        }
        return times;
    };
    out.kept = scrapes(exporter.port(), scrapeCount, 20, client, right);
    out.fresh = fresh();
    // (F): each flood client on a thread, a connection and an address of its own (127.0.0.2 to
    // 127.0.0.9), so that each may have a check pending.
    std::atomic<bool> flooding = true;
    std::mutex answered;
    std::vector<std::thread> flood;
    for (int c = 0; c < 8; ++c)
        flood.emplace_back([&, c] {
            const std::unique_ptr<QSslSocket> socket =
                connection(exporter.port(), client, QHostAddress(quint32(0x7f000002 + c)));
            for (int n = 0; flooding; ++n) {
                const int status =
                    scrape(*socket, "Basic " + ("prometheus:flood-" + QByteArray::number(c) + '-' +
                                                QByteArray::number(n))
                                                   .toBase64());
                const std::lock_guard lock(answered);
                ++out.floodAnswers[status];
            }
        });
    QThread::msleep(500);
    // (H): once the handshake is done, a client socket that keeps one byte reads nothing more.
    const long before = statusKiB(exporter.pid(), "VmRSS:");
    const QByteArray request =
        "GET /devices.js HTTP/1.1\r\nHost: localhost\r\nAuthorization: " + right + "\r\n\r\n";
    std::vector<std::unique_ptr<QSslSocket>> pipelines;
    for (int i = 0; i < 4; ++i) {
        pipelines.push_back(connection(exporter.port(), client));
        pipelines.back()->setReadBufferSize(1);
        pipelines.back()->write(request.repeated(60000 / request.size()));
        while (pipelines.back()->bytesToWrite() > 0 && pipelines.back()->waitForBytesWritten(2000))
            ;
    }
    QThread::msleep(1000);
    out.pipelinesKiB = statusKiB(exporter.pid(), "VmRSS:") - before;
    out.floodKept = scrapes(exporter.port(), scrapeCount, 20, client, right);
    out.floodFresh = fresh();
    flooding = false;
    for (std::thread& t : flood)
        t.join();

    // Alternated, on one kept connection, each password new: bcrypt runs for every one.
    const std::unique_ptr<QSslSocket> socket = connection(exporter.port(), client);
    for (int i = 0; i < 40; ++i) {
        const QByteArray guess = "guess" + QByteArray::number(i);
        for (const char* user : {"prometheus", "nobody"}) {
            QElapsedTimer clock;
            clock.start();
            if (scrape(*socket, "Basic " + (user + (':' + guess)).toBase64()) != 401)
                fail(QStringLiteral("a wrong password was let in"));
            (qstrcmp(user, "nobody") == 0 ? out.noSuchUser : out.wrongPassword)
                .push_back(msSince(clock));
        }
    }
    exporter.stop();
    return out;
}

double percentile(std::vector<double> samples, double share) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, std::size_t(share * double(samples.size())))];
}

struct Rounds {
    double readMs;       // from the first read's start to the last one's end, median
    double expositionMs; // making the metrics' text of every device, median
};

// Rounds of this watch after the first (which reads every phone's battery health too): how
// long its reads take side by side, and what making the text of them all costs.
Rounds rounds(const adb::ServerAddress& server, int devices) {
    DeviceWatch::Options options;
    options.server = server;
    options.intervalMs = kIntervalMs;
    options.mayStartServer = false;
    DeviceWatch watch(options);
    watch.start();
    std::vector<double> reads;
    double after = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
    for (int round = 0; round <= 3; ++round) {
        double first = 0;
        double last = 0;
        const bool done = spinUntil(
            [&] {
                int read = 0;
                first = 1e18;
                last = 0;
                for (const WatchedDevice& d : watch.devices()) {
                    if (d.lastReadTime && *d.lastReadTime > after) {
                        ++read;
                        first = std::min(first, *d.lastReadTime - *d.readSeconds);
                        last = std::max(last, *d.lastReadTime);
                    }
                }
                return read == devices;
            },
            kIntervalMs + 10000);
        if (!done)
            fail(QStringLiteral("a round did not read all %1 devices").arg(devices));
        if (round > 0)
            reads.push_back((last - first) * 1000);
        after = last;
    }
    std::vector<double> texts;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer clock;
        clock.start();
        report::exposition(watch.devices());
        texts.push_back(msSince(clock));
    }
    return {median(reads), median(texts)};
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int scrapeCount = argc > 1 ? std::max(20, std::atoi(argv[1])) : 500;
    AdbHarness harness;
    if (!harness.error().isEmpty())
        fail(harness.error());
    std::vector<SimulatorProcess*> phones;
    for (int i = 0; i < 48; ++i) {
        phones.push_back(harness.startSimulator(QStringLiteral("slow_phone")));
        if (!phones.back())
            fail(harness.error());
    }
    SimulatorProcess* oneIphone = harness.startIphones({QStringLiteral("slow_iphone")});
    SimulatorProcess* fourIphones =
        harness.startIphones(QStringList(4, QStringLiteral("slow_iphone")));
    if (!oneIphone || !fourIphones)
        fail(harness.error());
    const auto attach = [&](int phoneCount, SimulatorProcess* iphones) {
        // A phone not attached is let go already: only attaching must work.
        for (int i = 0; i < int(phones.size()); ++i) {
            if (i >= phoneCount)
                harness.disconnect(*phones[std::size_t(i)]);
            else if (!harness.connect(*phones[std::size_t(i)]))
                fail(harness.error());
        }
        qputenv("USBMUXD_SOCKET_ADDRESS", iphones->usbmuxdAddress().toUtf8());
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
    env.remove(QStringLiteral("ANDROID_SERIAL"));

    // Memory, processor time and scrapes of the program itself, at 4, 16 and 52 devices.
    struct Size {
        int phones;
        SimulatorProcess* iphones;
        int devices;
        long peakKiB = 0;
    };
    std::vector<Size> sizes{{3, oneIphone, 4}, {15, oneIphone, 16}, {48, fourIphones, 52}};
    std::vector<double> times;
    decltype(tlsRun({}, 0)) tls;
    std::vector<double> jsonTimes;
    QString sizes52;
    std::pair<std::vector<double>, std::vector<double>> page;
    double cpuPerRound = 0;
    double serverPerRound = 0;
    double devicesPerRound = 0;
    for (Size& size : sizes) {
        attach(size.phones, size.iphones);
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), size.iphones->usbmuxdAddress());
        ExporterProcess exporter(QStringLiteral(DEVICE_INFO_EXE), env,
                                 {"--interval", QString::number(kIntervalMs / 1000)});
        if (!exporter.error().isEmpty())
            fail(exporter.error());
        if (!spinUntil([&] { return upCount(exporter.metrics()) == size.devices; }, 30000))
            fail(QStringLiteral("not every one of %1 devices is up").arg(size.devices));
        if (size.devices == 52) {
            times = scrapes(exporter.port(), scrapeCount, 20);
            jsonTimes = scrapes(exporter.port(), scrapeCount, 20, {}, {}, "/devices.json");
            page = pageTimes(exporter.port());
            for (const char* path : {"/", "/devices.js", "/devices.css", "/devices.json"})
                sizes52 += QStringLiteral("%1 %2 bytes, ")
                               .arg(QLatin1String(path))
                               .arg(httpGet(exporter.port(), path).body.size());
            tls = tlsRun(env, scrapeCount);
            // What a round costs the exporter, the adb server, and the simulated devices, which
            // share this computer's cores where a real phone works on its own.
            const auto others = [&] {
                double sum = 0;
                for (const SimulatorProcess* device : phones)
                    sum += cpuSeconds(device->pid());
                return sum + cpuSeconds(fourIphones->pid());
            };
            const double before = cpuSeconds(exporter.pid());
            const double serverBefore = cpuSeconds(harness.serverPid());
            const double devicesBefore = others();
            QThread::msleep(4 * kIntervalMs);
            cpuPerRound = (cpuSeconds(exporter.pid()) - before) / 4;
            serverPerRound = (cpuSeconds(harness.serverPid()) - serverBefore) / 4;
            devicesPerRound = (others() - devicesBefore) / 4;
        } else {
            QThread::msleep(2 * kIntervalMs);
        }
        size.peakKiB = statusKiB(exporter.pid(), "VmHWM:");
        exporter.stop();
    }

    // Rounds in this process: all 52, then one phone alone.
    const Rounds all = rounds(harness.server(), 52);
    attach(1, oneIphone);
    qputenv("USBMUXD_SOCKET_ADDRESS", QByteArray("127.0.0.1:") + QByteArray::number(freePort()));
    const Rounds one = rounds(harness.server(), 1);
    attach(0, oneIphone);
    const Rounds iphone = rounds(harness.server(), 1);

    // The anchor: what a script exporter's scrape runs.
    attach(48, fourIphones);
    QStringList serials;
    for (const SimulatorProcess* phone : phones)
        serials << phone->serial();
    QStringList udids;
    for (const ios::Listed& d : ios::listDevices(3000))
        udids << d.udid;
    const double anchor = runTools(scriptLoop(harness.port(), serials, udids));
    if (anchor < 0)
        fail(QStringLiteral("a command of the script's loop failed"));

    const double p99 = percentile(times, 0.99);
    std::printf("scrapes (S), %d over a kept connection during rounds: median %.2f ms, p99 %.2f ms "
                "(target p99 <= 10 ms)\n",
                int(times.size()), percentile(times, 0.5), p99);
    const double slowest = std::max(one.readMs, iphone.readMs);
    std::printf("reads of a round of all 52 (C): %.0f ms; of one phone alone: %.0f ms; of one "
                "iPhone alone: %.0f ms; all / the slower alone = %.2f (target <= 2); the text of "
                "52 devices made in %.2f ms\n",
                all.readMs, one.readMs, iphone.readMs, all.readMs / slowest, all.expositionMs);
    std::printf("peak memory (M): 4 devices %ld KiB, 16 devices %ld KiB, 52 devices %ld KiB; "
                "52/4 = %.2f (target <= 2)\n",
                sizes[0].peakKiB, sizes[1].peakKiB, sizes[2].peakKiB,
                double(sizes[2].peakKiB) / double(sizes[0].peakKiB));
    std::printf("processor time a round of 52 (U): the exporter %.0f ms, the adb server %.0f ms, "
                "the simulated devices %.0f ms\n",
                cpuPerRound * 1000, serverPerRound * 1000, devicesPerRound * 1000);
    std::printf("a script exporter's scrape (A): %.0f ms; A / our p99 = %.0f (target >= 100)\n",
                anchor, anchor / p99);
    std::printf("the page's size at 52 devices: %s\n", qPrintable(sizes52.chopped(2)));
    if (page.first.empty())
        std::printf("the page (P): chromium is not installed\n");
    else
        std::printf("the page (P), 52 devices, 20 loads in headless Chromium: from the request to "
                    "the table drawn (first paint) median %.1f ms, p99 %.1f ms; to the load event "
                    "median %.1f ms\n",
                    percentile(page.first, 0.5), percentile(page.first, 0.99),
                    percentile(page.second, 0.5));
    std::printf("/devices.json (J), %d over a kept connection during rounds: median %.2f ms, p99 "
                "%.2f ms, beside /metrics' p99 %.2f ms\n",
                int(jsonTimes.size()), percentile(jsonTimes, 0.5), percentile(jsonTimes, 0.99),
                p99);
    std::printf("behind TLS with a password (T), 52 devices: %d scrapes over a kept connection: "
                "median %.2f ms, p99 %.2f ms (target p99 <= 10 ms); a new connection's handshake "
                "and first scrape, %d: median %.2f ms, p99 %.2f ms (target <= 20 ms); a wrong "
                "password %.1f ms, a user that does not exist %.1f ms (medians of 40; ratio "
                "%.2f, target within 0.8 to 1.2)\n",
                int(tls.kept.size()), percentile(tls.kept, 0.5), percentile(tls.kept, 0.99),
                int(tls.fresh.size()), percentile(tls.fresh, 0.5), percentile(tls.fresh, 0.99),
                percentile(tls.wrongPassword, 0.5), percentile(tls.noSuchUser, 0.5),
                percentile(tls.noSuchUser, 0.5) / percentile(tls.wrongPassword, 0.5));
    QStringList answers;
    for (const auto& [status, count] : tls.floodAnswers)
        answers << QStringLiteral("%1 x%2").arg(status).arg(count);
    std::printf("under a flood (F) of 8 clients sending passwords never tried (answered: %s), "
                "beside 4 pipelines never read (H) that cost the exporter %.1f MB (target <= 8): "
                "%d remembered scrapes over a kept connection: median %.2f ms, p99 %.2f ms "
                "(target p99 <= 10 ms); a new connection's handshake and first scrape, %d: median "
                "%.2f ms, p99 %.2f ms (target <= 20 ms)\n",
                qPrintable(answers.join(QStringLiteral(", "))), double(tls.pipelinesKiB) / 1024,
                int(tls.floodKept.size()), percentile(tls.floodKept, 0.5),
                percentile(tls.floodKept, 0.99), int(tls.floodFresh.size()),
                percentile(tls.floodFresh, 0.5), percentile(tls.floodFresh, 0.99));
    return 0;
}
