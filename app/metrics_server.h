// The exporter's HTTP face, on Qt HTTP Server: GET /metrics gives the last exposition, GET / a
// page that links to it; any other path is 404 and any other method 405. Nothing a request says
// reaches a device. Each connection is held to a deadline and a size, and the oldest is let go
// when too many are open, so that idle, slow or oversized clients never stop a scrape.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QHttpServer;

namespace app {

class GuardedTcpServer;

class MetricsServer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int requestMs = 10000;          // from a request's first byte, or a connection's start
        int idleMs = 60000;             // between requests on a kept connection
        qint64 requestBytes = 64 << 10; // what a request may send before its answer
        int connections = 256;
    };

    // METRICS gives what /metrics serves; it must answer at once.
    explicit MetricsServer(std::function<QByteArray()> metrics, QObject* parent = nullptr);
    ~MetricsServer() override;
    Q_DISABLE_COPY_MOVE(MetricsServer)

    void setLimits(const Limits& limits);
    // False, with why in ERROR, where it cannot listen there; PORT 0 takes a free port.
    bool listen(const QHostAddress& host, quint16 port, QString* error);
    quint16 port() const;

private:
    std::unique_ptr<QHttpServer> m_http;
    GuardedTcpServer* m_tcp = nullptr; // owned by m_http once bound
    Limits m_limits;
};

} // namespace app
