#include "exporter/metrics_server.h"

#include "device_link/background_work.h"
#include "exporter/http_request.h"
#include "exporter/web_serving.h"
#include "report/exposition.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <deque>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

namespace exporter {
namespace {

const QByteArray kPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Device Info exporter</title>"
    "</head>\n<body><h1>Device Info exporter</h1>\n<p>The battery, storage and state of every "
    "device attached to this computer, for Prometheus: <a href=\"/metrics\">/metrics</a>.</p>"
    "</body></html>\n";

// What a connection reads of its client at a time, and what its socket keeps unread: past it,
// the socket takes no more from the kernel, and the client's sends wait.
constexpr qint64 kReadChunk = 16 << 10;

QByteArray statusLine(int status) {
    static const std::pair<int, const char*> reasons[] = {{200, "OK"},
                                                          {400, "Bad Request"},
                                                          {401, "Unauthorized"},
                                                          {404, "Not Found"},
                                                          {405, "Method Not Allowed"},
                                                          {429, "Too Many Requests"},
                                                          {503, "Service Unavailable"}};
    const auto found = std::find_if(std::begin(reasons), std::end(reasons),
                                    [status](const auto& r) { return r.first == status; });
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' +
           (found == std::end(reasons) ? "Status" : found->second) + "\r\n";
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
    // DONE follows on the context's thread. Where OWNER (the request's connection) goes before
    // its check begins, the check is dropped, and its place goes to the next.
    bool offer(const QString& client, PasswordCheck::Question question, QObject* owner, Done done) {
        if (m_clients.contains(client) || m_clients.size() >= kPending)
            return false;
        m_clients.insert(client);
        const QMetaObject::Connection gone = QObject::connect(
            owner, &QObject::destroyed, m_shared->context, [this, owner] { abandon(owner); });
        m_waiting.push_back({client, std::move(question), std::move(done), owner, gone});
        startWaiting();
        return true;
    }

private:
    static constexpr qsizetype kPending = 32;

    struct Check {
        QString client;
        PasswordCheck::Question question;
        Done done;
        const QObject* owner; // only compared
        QMetaObject::Connection gone;
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
            // bcrypt cannot be stopped: once begun, it ends, and its outcome is remembered.
            QObject::disconnect(check->gone);
            ++m_running;
            const bool started = device::runInBackground([this, check, shared = m_shared] {
                // Behind the event loop (a tenth of its weight), so that a flood of guesses on
                // every core never keeps a scrape already let in waiting; not so far behind that
                // other work on a busy computer starves a first check.
                ::setpriority(PRIO_PROCESS, 0, 10);
                const bool allowed = PasswordCheck::answer(check->question);
                const std::lock_guard lock(shared->mutex);
                if (shared->context)
                    QMetaObject::invokeMethod(
                        shared->context, [this, check, allowed] { finish(*check, allowed); },
                        Qt::QueuedConnection);
            });
            if (!started)
                QMetaObject::invokeMethod(
                    m_shared->context,
                    [this, check] { finish(*check, PasswordCheck::answer(check->question)); },
                    Qt::QueuedConnection);
        }
    }

    void abandon(const QObject* owner) {
        const auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                                     [owner](const Check& c) { return c.owner == owner; });
        if (it == m_waiting.end())
            return;
        m_clients.remove(it->client);
        m_waiting.erase(it);
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

class Connection;

// What a request gets: the rate limit first, then the passwords, then the path, then the
// method; every answer carries the configuration's headers.
class HttpFace : public QObject {
public:
    std::map<QString, MetricsServer::Page> pages;
    std::shared_ptr<WebConfigSource> config;

    // Has CONNECTION answer REQUEST: at once, or once its password is checked.
    void handle(const HttpRequest& request, Connection& connection);
    // ANSWER with the headers of SERVING, the configuration that decided it.
    static MetricsServer::Answer finished(MetricsServer::Answer answer,
                                          const std::shared_ptr<Serving>& serving) {
        if (serving)
            answer.headers.insert(answer.headers.end(), serving->config.headers.begin(),
                                  serving->config.headers.end());
        return answer;
    }
    // What a request that is not HTTP gets.
    MetricsServer::Answer badRequest() const {
        return finished(plain(400, "Bad Request\n"), config ? config->current() : nullptr);
    }

private:
    MetricsServer::Answer route(const HttpRequest& request, bool allowed) const {
        if (!allowed) {
            MetricsServer::Answer denied = plain(401, "Unauthorized\n");
            denied.headers.push_back({"WWW-Authenticate", "Basic"});
            return denied;
        }
        const auto page = pages.find(request.path);
        if (page == pages.end())
            return plain(404, "Not found: try /metrics.\n");
        if (request.method != "GET" && request.method != "HEAD") {
            MetricsServer::Answer refused = plain(405, "Only GET and HEAD are served here.\n");
            refused.headers.push_back({"Allow", "GET, HEAD"});
            return refused;
        }
        return page->second();
    }

    TokenBucket m_bucket;
    PasswordChecks m_checks{this};
};

// One client's connection, from its first byte to its end, and the one owner of each request on
// it: it reads a request, has it answered, and reads the next only once the client has taken
// that answer, so that a client that never reads costs a socket's buffers, not memory without
// bound. Its deadlines are for the client's bytes: what a request costs the exporter (a
// password check) counts against none of them. It goes with its socket.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, const MetricsServer::Limits& limits, HttpFace& face)
        : QObject(socket), m_socket(socket), m_limits(limits), m_face(face) {
        m_socket->setReadBufferSize(kReadChunk);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Connection::drop);
        connect(socket, &QTcpSocket::readyRead, this, &Connection::readRequests);
        connect(socket, &QTcpSocket::bytesWritten, this, &Connection::onWritten);
        if (auto* tls = qobject_cast<QSslSocket*>(socket))
            connect(tls, &QSslSocket::encryptedBytesWritten, this, &Connection::onWritten);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A TLS handshake counts as part of the first request: one sent a byte a second ends at
        // the same deadline.
        m_timer.start(m_limits.requestMs);
        m_active.start();
    }

    // Starts reading requests: at once, or once TLS is set up.
    void start() {
        m_state = State::Reading;
        readRequests();
    }

    // The one place a request is answered; the next is read once the client has taken it.
    void answer(const MetricsServer::Answer& answer) {
        if (m_state != State::Handling)
            return;
        QByteArray out = statusLine(answer.status);
        out += "Content-Type: " + answer.type + "\r\n";
        out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        for (const auto& [name, value] : answer.headers)
            out += name + ": " + value + "\r\n";
        if (!m_keepAlive)
            out += "Connection: close\r\n";
        out += "\r\n";
        if (!m_head)
            out += answer.body;
        m_socket->write(out);
        m_state = m_keepAlive ? State::Writing : State::Closing;
        m_timer.start(m_limits.requestMs);
        if (!m_keepAlive)
            m_socket->disconnectFromHost(); // once what is written is out
    }

    // Lets the connection go at once; a request of it still being handled is never answered.
    void drop() {
        m_state = State::Closing;
        m_socket->abort();
        m_socket->deleteLater();
    }

    qint64 idleMs() const { return m_active.elapsed(); }
    QString peer() const { return unmapped(m_socket->peerAddress()).toString(); }

private:
    enum class State { Starting, Reading, Handling, Writing, Closing };

    void readRequests() {
        m_active.restart();
        while (m_state == State::Reading) {
            if (m_at == m_unread.size()) {
                m_unread = m_socket->read(kReadChunk);
                m_at = 0;
            }
            if (m_unread.isEmpty())
                return;
            if (m_received == 0)
                m_timer.start(m_limits.requestMs);
            const RequestReader::Read read = m_reader.read(QByteArrayView(m_unread).sliced(m_at));
            m_at += read.used;
            m_received += read.used;
            if (m_received > m_limits.requestBytes)
                return drop();
            if (read.broken) {
                m_state = State::Handling;
                m_keepAlive = false;
                m_head = false;
                return answer(m_face.badRequest());
            }
            if (read.complete)
                handle(m_reader.take());
        }
    }

    void handle(const HttpRequest& request) {
        m_state = State::Handling;
        m_timer.stop();
        m_received = 0;
        m_keepAlive = request.keepAlive;
        m_head = request.method == "HEAD";
        m_face.handle(request, *this);
    }

    void onWritten() {
        m_active.restart();
        if (m_state != State::Writing)
            return;
        m_timer.start(m_limits.requestMs);
        auto* tls = qobject_cast<QSslSocket*>(m_socket);
        if (m_socket->bytesToWrite() > 0 || (tls && tls->encryptedBytesToWrite() > 0))
            return;
        m_state = State::Reading;
        m_timer.start(m_limits.idleMs);
        readRequests(); // what was sent behind it
    }

    QTcpSocket* m_socket;
    MetricsServer::Limits m_limits;
    HttpFace& m_face;
    State m_state = State::Starting;
    RequestReader m_reader;
    QByteArray m_unread; // read from the socket; from m_at on, not yet by the reader
    qsizetype m_at = 0;
    qint64 m_received = 0; // of the request being read
    bool m_keepAlive = false;
    bool m_head = false;
    QTimer m_timer;
    QElapsedTimer m_active;
};

void HttpFace::handle(const HttpRequest& request, Connection& connection) {
    const std::shared_ptr<Serving> serving = config ? config->current() : nullptr;
    if (serving && !m_bucket.take(serving->config.rateLimit))
        return connection.answer(finished(plain(429, "Too Many Requests\n"), serving));
    if (!serving || !serving->passwords.asks())
        return connection.answer(finished(route(request, true), serving));
    auto found = serving->passwords.lookUp(request.authorization);
    if (const bool* known = std::get_if<bool>(&found))
        return connection.answer(finished(route(request, *known), serving));
    // The outcome is remembered whether or not the client is still there to be answered.
    const PasswordCheck::Question question = std::get<PasswordCheck::Question>(found);
    const bool offered =
        m_checks.offer(connection.peer(), question, &connection,
                       [this, serving, question, request,
                        waiting = QPointer<Connection>(&connection)](bool allowed) {
                           serving->passwords.remember(question, allowed);
                           if (waiting)
                               waiting->answer(finished(route(request, allowed), serving));
                       });
    if (!offered)
        connection.answer(finished(plain(429, "Too Many Requests\n"), serving));
}

// Makes a connection of each client, through TLS where the web configuration asks, and lets
// the longest quiet one go when too many are open.
class GuardedTcpServer : public QTcpServer {
public:
    GuardedTcpServer(const MetricsServer::Limits& limits, std::shared_ptr<WebConfigSource> config,
                     HttpFace& face)
        : m_limits(limits), m_config(std::move(config)), m_face(face) {}

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
        // An answer's head and body go in one write, but a client's delayed acknowledgement of
        // the answer before must not hold the next.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Connection* connection = admit(socket);
        auto* tls = qobject_cast<QSslSocket*>(socket);
        if (!tls)
            return connection->start();
        connect(tls, &QAbstractSocket::errorOccurred, connection, &Connection::drop);
        connect(tls, &QSslSocket::encrypted, connection, [this, tls, serving, connection] {
            // Qt gives the client's own certificate first, then what it sent with it.
            if (const QString why =
                    clientRefusal(*serving->config.tls, tls->peerCertificateChain());
                !why.isEmpty()) {
                m_config->refused(tls->peerAddress(), why);
                return connection->drop();
            }
            connection->start();
        });
        tls->setSslConfiguration(serving->ssl);
        tls->startServerEncryption();
    }

private:
    Connection* admit(QTcpSocket* socket) {
        m_open.removeIf([](const QPointer<Connection>& c) { return c.isNull(); });
        if (m_open.size() >= m_limits.connections) {
            const auto idlest =
                std::max_element(m_open.begin(), m_open.end(), [](const auto& a, const auto& b) {
                    return a->idleMs() < b->idleMs();
                });
            (*idlest)->drop();
            m_open.erase(idlest);
        }
        auto* connection = new Connection(socket, m_limits, m_face);
        m_open.append(connection);
        return connection;
    }

    MetricsServer::Limits m_limits;
    std::shared_ptr<WebConfigSource> m_config;
    HttpFace& m_face;
    QList<QPointer<Connection>> m_open;
};

MetricsServer::MetricsServer(std::function<QByteArray()> metrics, QObject* parent)
    : QObject(parent), m_http(std::make_unique<HttpFace>()) {
    m_renewals.setInterval(1000);
    connect(&m_renewals, &QTimer::timeout, this, [this] { m_config->current(); });
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
    if (m_config)
        m_renewals.start();
    else
        m_renewals.stop();
}

quint16 MetricsServer::listen(const QList<QHostAddress>& hosts, quint16 port, QString* error) {
    std::vector<std::unique_ptr<GuardedTcpServer>> bound;
    for (const QHostAddress& host : hosts) {
        auto tcp = std::make_unique<GuardedTcpServer>(m_limits, m_config, *m_http);
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
    for (std::unique_ptr<GuardedTcpServer>& tcp : bound)
        m_tcp.push_back(std::move(tcp));
    return boundPort;
}

std::optional<std::pair<QHostAddress, quint16>> MetricsServer::serveSocket(qintptr descriptor) {
    auto tcp = std::make_unique<GuardedTcpServer>(m_limits, m_config, *m_http);
    if (!tcp->setSocketDescriptor(descriptor) || !tcp->isListening() ||
        tcp->serverAddress().isNull())
        return std::nullopt;
    const std::pair<QHostAddress, quint16> at{tcp->serverAddress(), tcp->serverPort()};
    m_tcp.push_back(std::move(tcp));
    return at;
}

quint16 MetricsServer::port() const {
    return m_tcp.empty() ? 0 : m_tcp.front()->serverPort();
}

} // namespace exporter
