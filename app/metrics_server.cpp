#include "app/metrics_server.h"

#include "report/exposition.h"

#include <QElapsedTimer>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace app {
namespace {

using Status = QHttpServerResponder::StatusCode;

const QByteArray kPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Device Info exporter</title>"
    "</head>\n<body><h1>Device Info exporter</h1>\n<p>The battery, storage and state of every "
    "device attached to this computer, for Prometheus: <a href=\"/metrics\">/metrics</a>.</p>"
    "</body></html>\n";

bool known(const QString& path) {
    return path == QLatin1String("/") || path == QLatin1String("/metrics");
}

// Holds one connection to its deadlines and to what a request may send. It sees each chunk
// before the HTTP server reads it, and lets the connection go before anything is buffered past
// the limit.
class ConnectionGuard : public QObject {
public:
    ConnectionGuard(QTcpSocket* socket, const MetricsServer::Limits& limits)
        : QObject(socket), m_socket(socket), m_limits(limits) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &ConnectionGuard::drop);
        connect(socket, &QTcpSocket::readyRead, this, &ConnectionGuard::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &ConnectionGuard::onAnswered);
        m_timer.start(m_limits.requestMs);
        m_active.start();
    }

    qint64 idleMs() const { return m_active.elapsed(); }

    void drop() {
        // The HTTP server reads nothing more of it; it cleans up once the socket says it is
        // gone.
        disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
        m_socket->abort();
    }

private:
    void onReadyRead() {
        m_active.restart();
        if (m_received == 0)
            m_timer.start(m_limits.requestMs);
        m_received += m_socket->bytesAvailable();
        if (m_received > m_limits.requestBytes)
            drop();
    }

    void onAnswered() {
        m_active.restart();
        m_received = 0;
        m_timer.start(m_limits.idleMs);
    }

    QTcpSocket* m_socket;
    MetricsServer::Limits m_limits;
    QTimer m_timer;
    QElapsedTimer m_active;
    qint64 m_received = 0; // since the last answer
};

} // namespace

// Hands the HTTP server each connection with a guard on it, and lets the longest idle one go
// when too many are open.
class GuardedTcpServer : public QTcpServer {
public:
    explicit GuardedTcpServer(const MetricsServer::Limits& limits) : m_limits(limits) {}

    QTcpSocket* nextPendingConnection() override {
        QTcpSocket* socket = QTcpServer::nextPendingConnection();
        if (!socket)
            return nullptr;
        m_open.removeIf([](const QPointer<ConnectionGuard>& g) { return g.isNull(); });
        if (m_open.size() >= m_limits.connections) {
            const auto idlest =
                std::max_element(m_open.begin(), m_open.end(), [](const auto& a, const auto& b) {
                    return a->idleMs() < b->idleMs();
                });
            (*idlest)->drop();
            m_open.erase(idlest);
        }
        m_open.append(new ConnectionGuard(socket, m_limits));
        // The server writes an answer's head and body apart: without this the body waits for
        // the client's delayed acknowledgement of the head.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return socket;
    }

private:
    MetricsServer::Limits m_limits;
    QList<QPointer<ConnectionGuard>> m_open;
};

MetricsServer::MetricsServer(std::function<QByteArray()> metrics, QObject* parent)
    : QObject(parent), m_http(std::make_unique<QHttpServer>()) {
    m_http->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get,
                  [metrics = std::move(metrics)] {
                      return QHttpServerResponse(report::kExpositionType, metrics());
                  });
    m_http->route(QStringLiteral("/"), QHttpServerRequest::Method::Get,
                  [] { return QHttpServerResponse("text/html; charset=utf-8", kPage); });
    m_http->setMissingHandler([](const QHttpServerRequest& request,
                                 QHttpServerResponder&& responder) {
        if (known(request.url().path()))
            return responder.write(QByteArray("Only GET is served here.\n"),
                                   {{"Content-Type", "text/plain"}, {"Allow", "GET"}},
                                   Status::MethodNotAllowed);
        responder.write(QByteArray("Not found: try /metrics.\n"), "text/plain", Status::NotFound);
    });
}

MetricsServer::~MetricsServer() = default;

void MetricsServer::setLimits(const Limits& limits) {
    m_limits = limits;
}

bool MetricsServer::listen(const QHostAddress& host, quint16 port, QString* error) {
    auto tcp = std::make_unique<GuardedTcpServer>(m_limits);
    // Room for every connection it keeps and as many arriving: past a full queue the kernel
    // drops a scrape's first packet, and the client waits a second before it tries again.
    tcp->setListenBacklogSize(2 * m_limits.connections);
    if (!tcp->listen(host, port)) {
        if (error)
            *error = tcp->errorString();
        return false;
    }
    m_tcp = tcp.release();
    m_http->bind(m_tcp);
    return true;
}

quint16 MetricsServer::port() const {
    return m_tcp ? m_tcp->serverPort() : 0;
}

} // namespace app
