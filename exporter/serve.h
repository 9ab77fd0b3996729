// The program for a lab: --serve, an exporter that Prometheus scrapes. It watches every device
// of either kind, and serves the last readings as metrics until SIGTERM or SIGINT.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

namespace exporter {

// One --serve: "localhost" is both loopback addresses, on one port.
struct ListenAddress {
    QList<QHostAddress> hosts;
    quint16 port = 0; // 0: a free one
    QString host;     // as given
};

struct ServeOptions {
    QList<ListenAddress> listen;
    QString webConfig;        // --web-config: TLS, passwords and headers
    int intervalSeconds = 30; // --interval: how often every device is read
    QStringList connect;      // --connect: Wi-Fi addresses ("HOST:PORT") kept connected
};

// Runs until SIGTERM or SIGINT, then returns 0; 1 where it cannot listen, 2 where the web
// configuration is wrong.
int runServe(const ServeOptions& options);

} // namespace exporter
