#include "exporter/serve.h"

#include "device_link/adb/wifi_keeper.h"
#include "device_link/background_work.h"
#include "device_link/device_watch.h"
#include "exporter/metrics_server.h"
#include "exporter/web_serving.h"
#include "report/devices_page.h"
#include "report/exposition.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>

#include <cstdio>
#include <memory>
#include <optional>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace exporter {
namespace {

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

// The listening sockets systemd passed: for this process alone, and not passed on to the
// programs it starts (sd_listen_fds marks them close-on-exec).
QList<int> socketsFromSystemd() {
    QList<int> out;
    const int count = sd_listen_fds(1);
    for (int fd = SD_LISTEN_FDS_START; fd < SD_LISTEN_FDS_START + std::min(count, 64); ++fd)
        out << fd;
    return out;
}

} // namespace

int runServe(const ServeOptions& command) {
    // Checked whole before anything listens: never plain HTTP because TLS could not be set up.
    std::shared_ptr<WebConfigSource> webConfig;
    if (!command.webConfig.isEmpty()) {
        webConfig = std::make_shared<WebConfigSource>(command.webConfig, &say);
        if (!webConfig->refusal().isEmpty()) {
            say(webConfig->refusal());
            return 2;
        }
    }
    if (!device::quitOnSignals()) {
        say(QStringLiteral("cannot catch SIGTERM"));
        return 1;
    }
    DeviceWatch::Options options;
    options.server = adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment());
    options.intervalMs = command.intervalSeconds * 1000;
    DeviceWatch watch(options);
    // Made by the first request after a change, from the readings in hand: a round's many
    // reads cost nothing until someone asks.
    std::optional<QByteArray> metrics;
    std::optional<QJsonArray> devices;
    std::optional<QByteArray> devicesText;
    QObject::connect(&watch, &DeviceWatch::changed, [&] {
        metrics.reset();
        devices.reset();
        devicesText.reset();
    });
    const auto lastDevices = [&]() -> const QJsonArray& {
        if (!devices)
            devices = report::devicesJson(watch.devices());
        return *devices;
    };
    QObject::connect(&watch, &DeviceWatch::androidTrouble, [](const QString& why) {
        say(why.isEmpty() ? QStringLiteral("the adb server answers again") : why);
    });
    QObject::connect(&watch, &DeviceWatch::upowerTrouble, [](const QString& why) {
        say(why.isEmpty() ? QStringLiteral("UPower answers again") : why);
    });

    // A lab's Wi-Fi phones, connected again after a router restart.
    WifiKeeper wifi(options.server);
    for (const QString& address : command.connect)
        wifi.keep(address);
    QObject::connect(&wifi, &WifiKeeper::said, &say);
    QObject::connect(&wifi, &WifiKeeper::changed, [&] { metrics.reset(); });
    MetricsServer server([&] {
        if (!metrics) {
            std::vector<std::pair<QString, bool>> kept;
            for (const QString& address : wifi.addresses())
                kept.emplace_back(address, wifi.connected(address));
            metrics = report::buildInfo(QStringLiteral(DEVICE_INFO_VERSION),
                                        QString::fromLatin1(qVersion())) +
                      report::exposition(watch.devices()) + report::wifiConnected(kept);
        }
        return *metrics;
    });
    server.setPage(QStringLiteral("/-/healthy"), [] {
        return MetricsServer::Answer{"text/plain; charset=utf-8",
                                     "Device Info exporter is healthy.\n"};
    });
    server.setPage(QStringLiteral("/-/ready"), [&watch] {
        return watch.firstRoundDone()
                   ? MetricsServer::Answer{"text/plain; charset=utf-8",
                                           "Device Info exporter is ready.\n"}
                   : MetricsServer::Answer{"text/plain; charset=utf-8",
                                           "Device Info exporter is not ready: its first round "
                                           "of reads is under way.\n",
                                           {},
                                           503};
    });
    server.setPage(QStringLiteral("/devices.json"), [&] {
        if (!devicesText)
            devicesText = QJsonDocument(lastDevices()).toJson(QJsonDocument::Compact);
        return MetricsServer::Answer{"application/json", *devicesText, {}};
    });
    // Only the exporter's own script and style run in the page: a device's name never does.
    server.setPage(QStringLiteral("/"), [&, interval = command.intervalSeconds] {
        return MetricsServer::Answer{"text/html; charset=utf-8",
                                     report::devicesPage(lastDevices(), interval),
                                     {{"Content-Security-Policy", "default-src 'self'"}}};
    });
    for (const auto& [path, type, resource] :
         {std::tuple{"/devices.js", "text/javascript; charset=utf-8", ":/page/devices.js"},
          std::tuple{"/devices.css", "text/css; charset=utf-8", ":/page/devices.css"},
          std::tuple{"/device-info.png", "image/png", ":/layout/device-info-32.png"}}) {
        QFile file{QString::fromLatin1(resource)};
        file.open(QIODevice::ReadOnly);
        server.setPage(QLatin1String(path), [contentType = type, body = file.readAll()] {
            return MetricsServer::Answer{contentType, body, {}};
        });
    }
    server.setWebConfig(webConfig);
    const bool tls = webConfig && webConfig->current()->config.tls;
    const auto serving = [&](QString host, quint16 port, const QString& from) {
        if (host.contains(u':'))
            host = u'[' + host + u']';
        say(QStringLiteral("serving metrics at %1://%2:%3/metrics%4, reading every %5 s")
                .arg(tls ? QStringLiteral("https") : QStringLiteral("http"), host,
                     QString::number(port), from, QString::number(command.intervalSeconds)));
    };
    // Started by its socket unit: the sockets systemd listens on stand for --serve's.
    if (const QList<int> passed = socketsFromSystemd(); !passed.isEmpty()) {
        for (const int fd : passed) {
            const auto at = server.serveSocket(fd);
            if (!at) {
                say(QStringLiteral("cannot serve descriptor %1 from systemd: it is not a "
                                   "listening TCP socket")
                        .arg(fd));
                return 1;
            }
            serving(at->first.toString(), at->second, QStringLiteral(" (a socket from systemd)"));
        }
    } else {
        for (const ListenAddress& at : command.listen) {
            QString why;
            const quint16 port = server.listen(at.hosts, at.port, &why);
            if (port == 0) {
                say(QStringLiteral("cannot listen on %1 port %2: %3")
                        .arg(at.host, QString::number(at.port), why));
                return 1;
            }
            serving(at.host, port, {});
        }
    }
    // Ready, for a unit of Type=notify, once the first round is read: a scrape then finds every
    // device. Outside systemd this says nothing.
    QObject::connect(&watch, &DeviceWatch::firstRoundEnded, [] { sd_notify(0, "READY=1"); });
    watch.start();
    QCoreApplication::exec();
    sd_notify(0, "STOPPING=1");
    say(QStringLiteral("stopped"));
    return 0;
}

} // namespace exporter
