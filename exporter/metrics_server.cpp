#include "exporter/metrics_server.h"

#include "exporter/web_serving.h"
#include "report/exposition.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

namespace exporter {
namespace {

using Status = QHttpServerResponder::StatusCode;

const QByteArray kPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Device Info exporter</title>"
    "</head>\n<body><h1>Device Info exporter</h1>\n<p>The battery, storage and state of every "
    "device attached to this computer, for Prometheus: <a href=\"/metrics\">/metrics</a>.</p>"
    "</body></html>\n";

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
        // A TLS handshake counts as part of the first request: one sent a byte a second ends
        // at the same deadline.
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

QByteArray header(const QHttpServerRequest& request, QByteArrayView name) {
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

struct Reply {
    Status status = Status::Ok;
    MetricsServer::Answer answer;
};

Reply plain(Status status, const char* text) {
    return {status, {"text/plain; charset=utf-8", text, {}}};
}

} // namespace

// Answers every request itself: the passwords first, then the path, then the method; every
// answer carries the configuration's headers, and HEAD is GET without the body.
class HttpFace : public QAbstractHttpServer {
public:
    std::map<QString, MetricsServer::Page> pages;
    std::shared_ptr<WebConfigSource> config;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const std::shared_ptr<Serving> serving = config ? config->current() : nullptr;
        const Reply reply = answer(request, serving.get());
        QHttpServerResponder responder = makeResponder(request, socket);
        responder.writeStatusLine(reply.status);
        responder.writeHeader("Content-Type", reply.answer.type);
        responder.writeHeader("Content-Length", QByteArray::number(reply.answer.body.size()));
        for (const auto& [name, value] : reply.answer.headers)
            responder.writeHeader(name, value);
        if (serving) {
            for (const auto& [name, value] : serving->config.headers)
                responder.writeHeader(name, value);
        }
        const bool head = request.method() == QHttpServerRequest::Method::Head;
        responder.writeBody(head ? QByteArray() : reply.answer.body);
        return true;
    }

    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

private:
    Reply answer(const QHttpServerRequest& request, Serving* serving) const {
        if (serving && serving->passwords.asks() &&
            !serving->passwords.allows(header(request, "Authorization"))) {
            Reply denied = plain(Status::Unauthorized, "Unauthorized\n");
            denied.answer.headers.push_back({"WWW-Authenticate", "Basic"});
            return denied;
        }
        const auto page = pages.find(request.url().path());
        if (page == pages.end())
            return plain(Status::NotFound, "Not found: try /metrics.\n");
        if (request.method() != QHttpServerRequest::Method::Get &&
            request.method() != QHttpServerRequest::Method::Head) {
            Reply refused = plain(Status::MethodNotAllowed, "Only GET and HEAD are served here.\n");
            refused.answer.headers.push_back({"Allow", "GET, HEAD"});
            return refused;
        }
        return {Status::Ok, page->second()};
    }
};

// Hands the HTTP server each connection with a guard on it, through TLS where the web
// configuration asks, and lets the longest idle one go when too many are open.
class GuardedTcpServer : public QTcpServer {
public:
    GuardedTcpServer(const MetricsServer::Limits& limits, std::shared_ptr<WebConfigSource> config)
        : m_limits(limits), m_config(std::move(config)) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        const std::shared_ptr<Serving> serving = m_config ? m_config->current() : nullptr;
        QTcpSocket* socket =
            serving && serving->config.tls ? new QSslSocket(this) : new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            ::close(int(descriptor));
            return;
        }
        admit(socket);
        // The server writes an answer's head and body apart: without this the body waits for
        // the client's delayed acknowledgement of the head.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* tls = qobject_cast<QSslSocket*>(socket);
        if (!tls) {
            addPendingConnection(socket);
            return;
        }
        // Until it is handed over, a connection that fails is this server's to delete.
        connect(tls, &QAbstractSocket::disconnected, this, [tls] { tls->deleteLater(); });
        connect(tls, &QAbstractSocket::errorOccurred, this, [tls] { tls->abort(); });
        connect(tls, &QSslSocket::encrypted, this, [this, tls, serving] {
            // Qt gives the client's own certificate first, then what it sent with it.
            if (!clientRefusal(*serving->config.tls, tls->peerCertificateChain()).isEmpty()) {
                tls->abort();
                return;
            }
            disconnect(tls, nullptr, this, nullptr);
            addPendingConnection(tls);
            emit newConnection();
        });
        tls->setSslConfiguration(serving->ssl);
        tls->startServerEncryption();
    }

private:
    void admit(QTcpSocket* socket) {
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
    }

    MetricsServer::Limits m_limits;
    std::shared_ptr<WebConfigSource> m_config;
    QList<QPointer<ConnectionGuard>> m_open;
};

MetricsServer::MetricsServer(std::function<QByteArray()> metrics, QObject* parent)
    : QObject(parent), m_http(std::make_unique<HttpFace>()) {
    setPage(QStringLiteral("/metrics"), [metrics = std::move(metrics)] {
        return Answer{report::kExpositionType, metrics(), {}};
    });
    setPage(QStringLiteral("/"), [] { return Answer{"text/html; charset=utf-8", kPage, {}}; });
}

MetricsServer::~MetricsServer() = default;

void MetricsServer::setPage(const QString& path, Page page) {
    m_http->pages[path] = std::move(page);
}

void MetricsServer::setLimits(const Limits& limits) {
    m_limits = limits;
}

void MetricsServer::setWebConfig(std::shared_ptr<WebConfigSource> source) {
    m_config = source;
    m_http->config = std::move(source);
}

quint16 MetricsServer::listen(const QList<QHostAddress>& hosts, quint16 port, QString* error) {
    std::vector<std::unique_ptr<GuardedTcpServer>> bound;
    for (const QHostAddress& host : hosts) {
        auto tcp = std::make_unique<GuardedTcpServer>(m_limits, m_config);
        // Room for every connection it keeps and as many arriving: past a full queue the kernel
        // drops a scrape's first packet, and the client waits a second before it tries again.
        tcp->setListenBacklogSize(2 * m_limits.connections);
        if (tcp->listen(host, bound.empty() ? port : bound.front()->serverPort())) {
            bound.push_back(std::move(tcp));
            continue;
        }
        // A computer without IPv6 still serves "localhost" on 127.0.0.1.
        const bool noIpv6 =
            host.protocol() == QAbstractSocket::IPv6Protocol && hosts.size() > 1 &&
            (tcp->serverError() == QAbstractSocket::SocketAddressNotAvailableError ||
             tcp->serverError() == QAbstractSocket::UnsupportedSocketOperationError);
        if (noIpv6)
            continue;
        if (error)
            *error = tcp->errorString();
        return 0;
    }
    if (bound.empty()) {
        if (error)
            *error = QStringLiteral("no address to listen on");
        return 0;
    }
    const quint16 bound_port = bound.front()->serverPort();
    for (std::unique_ptr<GuardedTcpServer>& tcp : bound) {
        m_tcp.append(tcp.get());
        m_http->bind(tcp.release());
    }
    return bound_port;
}

quint16 MetricsServer::port() const {
    return m_tcp.isEmpty() ? 0 : m_tcp.first()->serverPort();
}

} // namespace exporter
