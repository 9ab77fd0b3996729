// The exporter's HTTP face: GET (or HEAD) /metrics gives the last exposition, / a page; any other
// path is 404 and any other method 405. With a web configuration it serves TLS, asks clients
// for certificates and users for passwords, holds every request to its rate limit, and adds its
// headers to every answer. Nothing a request says reaches a device. Every request it reads is
// answered, in turn; a connection's next request is read only once the client has taken the
// answer before it, so that what a connection holds is one request and one answer. Each
// connection is held to deadlines for its client's bytes and to a size, and the longest quiet
// one is let go when too many are open, so that idle, slow or oversized clients, and
// handshakes left half done, never stop a scrape; bcrypt runs off the event loop, so that a
// password already checked is answered at once whatever else is being checked.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace exporter {

class GuardedTcpServer;
class HttpFace;
class WebConfigSource;

class MetricsServer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        // From a request's first byte (or a connection's start) to its end, and between two
        // writes of an answer the client is slow to take.
        int requestMs = 10000;
        int idleMs = 60000;             // between requests on a kept connection
        qint64 requestBytes = 64 << 10; // what a request may send before its answer
        int connections = 256;
    };
    // What a GET of a path gives.
    struct Answer {
        QByteArray type;
        QByteArray body;
        std::vector<std::pair<QByteArray, QByteArray>> headers = {};
        int status = 200;
    };
    using Page = std::function<Answer()>;

    // METRICS gives what /metrics serves; it must answer at once.
    explicit MetricsServer(std::function<QByteArray()> metrics, QObject* parent = nullptr);
    ~MetricsServer() override;
    Q_DISABLE_COPY_MOVE(MetricsServer)

    // Serves PAGE at PATH (GET and HEAD), in place of what was there.
    void setPage(const QString& path, Page page);
    void setLimits(const Limits& limits);
    // TLS, client certificates, passwords and headers, as SOURCE says at each connection and
    // request, and at least every second, so that a renewal waiting is taken and said without
    // a request; none: plain HTTP, open to all.
    void setWebConfig(std::shared_ptr<WebConfigSource> source);
    // Serves the listening socket DESCRIPTOR, as systemd hands one over, and returns where it
    // listens; none where it is not a listening TCP socket.
    std::optional<std::pair<QHostAddress, quint16>> serveSocket(qintptr descriptor);
    // Listens on each of HOSTS, beside what it already serves, and returns the port; 0, with why
    // in ERROR, where it cannot. PORT 0 takes a free port, the same one on every host.
    quint16 listen(const QList<QHostAddress>& hosts, quint16 port, QString* error);
    quint16 listen(const QHostAddress& host, quint16 port, QString* error) {
        return listen(QList<QHostAddress>{host}, port, error);
    }
    // The port it listens on first.
    quint16 port() const;

private:
    Limits m_limits;
    std::shared_ptr<WebConfigSource> m_config;
    QTimer m_renewals;
    std::unique_ptr<HttpFace> m_http;
    // After the face: their connections go before it.
    std::vector<std::unique_ptr<GuardedTcpServer>> m_tcp;
};

} // namespace exporter
