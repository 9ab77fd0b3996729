#include "exporter/metrics_server.h"

#include "device_link/background_work.h"
#include "exporter/web_serving.h"
#include "report/exposition.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QSet>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <mutex>
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
        // Qt signals again for what is still unread, as when requests come pipelined: only
        // what arrived since the last look counts.
        const qint64 available = m_socket->bytesAvailable();
        m_received += std::max<qint64>(0, available - m_unread);
        m_unread = available;
        if (m_received > m_limits.requestBytes)
            drop();
        else
            QMetaObject::invokeMethod(this, &ConnectionGuard::afterRead, Qt::QueuedConnection);
    }

    // What the HTTP server left unread once it has had its turn.
    void afterRead() { m_unread = m_socket->bytesAvailable(); }

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
    qint64 m_unread = 0;   // of it, what the HTTP server had not read at the last look
};

QByteArray header(const QHttpServerRequest& request, QByteArrayView name) {
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

MetricsServer::Answer plain(int status, const char* text) {
    return {"text/plain; charset=utf-8", text, {}, status};
}

// The server's one token bucket, as golang.org/x/time/rate fills it: a token each interval, at
// most a burst of them; full when the limit is set or changed.
class TokenBucket {
public:
    TokenBucket() { m_clock.start(); }

    // Whether a request may go on under LIMIT.
    bool take(const RateLimit& limit) {
        const qint64 now = m_clock.nsecsElapsed();
        if (limit.intervalNs != m_limit.intervalNs || limit.burst != m_limit.burst) {
            m_limit = limit;
            m_tokens = limit.burst;
            m_filled = now;
        }
        if (m_limit.intervalNs <= 0)
            return true;
        m_tokens = std::min<double>(m_limit.burst,
                                    m_tokens + double(now - m_filled) / double(m_limit.intervalNs));
        m_filled = now;
        if (m_tokens < 1)
            return false;
        m_tokens -= 1;
        return true;
    }

private:
    QElapsedTimer m_clock;
    RateLimit m_limit;
    double m_tokens = 0;
    qint64 m_filled = 0;
};

// bcrypt off the event loop: at most a thread a core, at most one check waiting or under way
// for each client address, and a bounded number in all; beyond them a client is told to wait.
class PasswordChecks {
public:
    using Done = std::function<void(bool allowed)>;

    explicit PasswordChecks(QObject* context)
        : m_shared(std::make_shared<Shared>()),
          m_threads(std::max(1, QThread::idealThreadCount())) {
        m_shared->context = context;
    }
    ~PasswordChecks() {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->context = nullptr;
    }
    Q_DISABLE_COPY_MOVE(PasswordChecks)

    // False, and DONE never called, where CLIENT already has a check pending or too many are.
    bool offer(const QString& client, PasswordCheck::Question question, Done done) {
        if (m_clients.contains(client) || m_clients.size() >= kPending)
            return false;
        m_clients.insert(client);
        m_waiting.push_back({client, std::move(question), std::move(done)});
        startWaiting();
        return true;
    }

private:
    static constexpr qsizetype kPending = 32;

    struct Check {
        QString client;
        PasswordCheck::Question question;
        Done done;
    };
    // What a check's thread reaches back to: the event loop's object while it lives.
    struct Shared {
        std::mutex mutex;
        QObject* context = nullptr;
    };

    void startWaiting() {
        while (m_running < m_threads && !m_waiting.empty()) {
            auto check = std::make_shared<Check>(std::move(m_waiting.front()));
            m_waiting.pop_front();
            ++m_running;
            const bool started = device::runInBackground([this, check, shared = m_shared] {
                const bool allowed = PasswordCheck::answer(check->question);
                const std::lock_guard lock(shared->mutex);
                if (shared->context)
                    QMetaObject::invokeMethod(
                        shared->context, [this, check, allowed] { finish(*check, allowed); },
                        Qt::QueuedConnection);
            });
            if (!started)
                finish(*check, PasswordCheck::answer(check->question));
        }
    }

    void finish(const Check& check, bool allowed) {
        --m_running;
        m_clients.remove(check.client);
        check.done(allowed);
        startWaiting();
    }

    std::shared_ptr<Shared> m_shared;
    int m_threads;
    int m_running = 0;
    std::deque<Check> m_waiting;
    QSet<QString> m_clients; // with a check waiting or under way
};

} // namespace

// Answers every request itself: the rate limit first, then the passwords, then the path, then
// the method; every answer carries the configuration's headers, and HEAD is GET without the
// body.
class HttpFace : public QAbstractHttpServer {
public:
    std::map<QString, MetricsServer::Page> pages;
    std::shared_ptr<WebConfigSource> config;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const std::shared_ptr<Serving> serving = config ? config->current() : nullptr;
        // A request sent behind one still waiting for its password cannot be answered in turn.
        if (m_checking.contains(socket)) {
            socket->abort();
            return true;
        }
        const bool head = request.method() == QHttpServerRequest::Method::Head;
        if (serving && !m_bucket.take(serving->config.rateLimit)) {
            respond(makeResponder(request, socket), plain(429, "Too Many Requests\n"), serving,
                    head);
            return true;
        }
        const std::optional<bool> allowed =
            serving && serving->passwords.asks() ? allows(request, socket, serving) : true;
        if (allowed)
            respond(makeResponder(request, socket), answer(request, *allowed), serving, head);
        return true;
    }

    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

private:
    // Whether REQUEST's password lets it in, where that is known now. Otherwise it is checked
    // off the event loop and answered then (none), or answered 429 at once where too many
    // checks are pending (none too).
    std::optional<bool> allows(const QHttpServerRequest& request, QTcpSocket* socket,
                               const std::shared_ptr<Serving>& serving) {
        auto found = serving->passwords.lookUp(header(request, "Authorization"));
        if (const bool* known = std::get_if<bool>(&found))
            return *known;
        const bool head = request.method() == QHttpServerRequest::Method::Head;
        // The request itself is the server's, and cleared for the next one: what the answer
        // needs is taken now. The responder only writes to the socket, which is watched.
        auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
        const QPointer<QTcpSocket> watched(socket);
        const QString path = request.url().path();
        const QHttpServerRequest::Method method = request.method();
        const PasswordCheck::Question question = std::get<PasswordCheck::Question>(found);
        const bool offered = m_checks.offer(
            unmapped(socket->peerAddress()).toString(), question, [=, this](bool allowed) {
                serving->passwords.remember(question, allowed);
                m_checking.remove(watched.data());
                if (watched)
                    respond(std::move(*responder), answer(path, method, allowed), serving, head);
            });
        if (offered)
            m_checking.insert(socket);
        else
            respond(std::move(*responder), plain(429, "Too Many Requests\n"), serving, head);
        return std::nullopt;
    }

    MetricsServer::Answer answer(const QHttpServerRequest& request, bool allowed) const {
        return answer(request.url().path(), request.method(), allowed);
    }

    MetricsServer::Answer answer(const QString& path, QHttpServerRequest::Method method,
                                 bool allowed) const {
        if (!allowed) {
            MetricsServer::Answer denied = plain(401, "Unauthorized\n");
            denied.headers.push_back({"WWW-Authenticate", "Basic"});
            return denied;
        }
        const auto page = pages.find(path);
        if (page == pages.end())
            return plain(404, "Not found: try /metrics.\n");
        if (method != QHttpServerRequest::Method::Get &&
            method != QHttpServerRequest::Method::Head) {
            MetricsServer::Answer refused = plain(405, "Only GET and HEAD are served here.\n");
            refused.headers.push_back({"Allow", "GET, HEAD"});
            return refused;
        }
        return page->second();
    }

    static void respond(QHttpServerResponder&& responder, const MetricsServer::Answer& answer,
                        const std::shared_ptr<Serving>& serving, bool head) {
        responder.writeStatusLine(Status(answer.status));
        responder.writeHeader("Content-Type", answer.type);
        responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
        for (const auto& [name, value] : answer.headers)
            responder.writeHeader(name, value);
        if (serving) {
            for (const auto& [name, value] : serving->config.headers)
                responder.writeHeader(name, value);
        }
        responder.writeBody(head ? QByteArray() : answer.body);
    }

    TokenBucket m_bucket;
    PasswordChecks m_checks{this};
    QSet<QTcpSocket*> m_checking; // with a request waiting for its password
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
            if (const QString why =
                    clientRefusal(*serving->config.tls, tls->peerCertificateChain());
                !why.isEmpty()) {
                m_config->refused(tls->peerAddress(), why);
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
    const quint16 boundPort = bound.front()->serverPort();
    for (std::unique_ptr<GuardedTcpServer>& tcp : bound) {
        m_tcp.append(tcp.get());
        m_http->bind(tcp.release());
    }
    return boundPort;
}

std::optional<std::pair<QHostAddress, quint16>> MetricsServer::serveSocket(qintptr descriptor) {
    auto tcp = std::make_unique<GuardedTcpServer>(m_limits, m_config);
    if (!tcp->setSocketDescriptor(descriptor) || !tcp->isListening() ||
        tcp->serverAddress().isNull())
        return std::nullopt;
    const std::pair<QHostAddress, quint16> at{tcp->serverAddress(), tcp->serverPort()};
    m_tcp.append(tcp.get());
    m_http->bind(tcp.release());
    return at;
}

quint16 MetricsServer::port() const {
    return m_tcp.isEmpty() ? 0 : m_tcp.first()->serverPort();
}

} // namespace exporter
