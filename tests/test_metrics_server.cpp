// The exporter's HTTP face in this process, with limits small enough to watch them act: a slow
// client, a quiet kept connection, too many connections and an oversized request.
#include "exporter/metrics_server.h"
#include "qt_printers.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class MetricsServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.setLimits({.requestMs = 400, .idleMs = 800, .requestBytes = 4096, .connections = 4});
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0, nullptr));
    }

    std::unique_ptr<QTcpSocket> connectClient(quint16 port = 0) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port ? port : server.port());
        EXPECT_TRUE(waitUntil([&] { return socket->state() == QAbstractSocket::ConnectedState; }));
        return socket;
    }

    template <typename Done> static bool waitUntil(Done&& done, int ms = 3000) {
        const QDeadlineTimer deadline(ms);
        while (!done() && !deadline.hasExpired())
            QTest::qWait(10);
        return done();
    }

    static bool closed(const QTcpSocket& socket) {
        return socket.state() == QAbstractSocket::UnconnectedState;
    }

    // One GET on SOCKET; what came back within a second.
    static QByteArray get(QTcpSocket& socket, const QByteArray& path = "/metrics") {
        socket.write("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray got;
        waitUntil(
            [&] {
                got += socket.readAll();
                return got.contains("\r\n\r\n") && got.endsWith("\n");
            },
            1000);
        return got;
    }

    int scrapes = 0;
    exporter::MetricsServer server{[this] {
        ++scrapes;
        return QByteArray("device_info_up{serial=\"a\",kind=\"android\"} 1\n");
    }};
};

TEST_F(MetricsServerTest, AnswersAKeptConnectionAgainAndLetsItGoWhenQuiet) {
    auto client = connectClient();
    const QByteArray first = get(*client);
    EXPECT_TRUE(first.endsWith("device_info_up{serial=\"a\",kind=\"android\"} 1\n"));
    EXPECT_TRUE(first.contains("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"))
        << shown(first);
    QTest::qWait(500); // past a request's limit, within the idle one
    EXPECT_TRUE(get(*client).startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(scrapes, 2);
    EXPECT_TRUE(waitUntil([&] { return closed(*client); }, 2000)) << "quiet past its idle limit";
}

TEST_F(MetricsServerTest, ASlowRequestIsLetGoAtItsDeadline) {
    auto slow = connectClient();
    QElapsedTimer clock;
    clock.start();
    for (const char c : QByteArray("GET /met")) {
        slow->write(&c, 1);
        QTest::qWait(60);
    }
    EXPECT_TRUE(waitUntil([&] { return closed(*slow); }, 2000));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(scrapes, 0);
    // A connection that says nothing is let go too.
    auto silent = connectClient();
    EXPECT_TRUE(waitUntil([&] { return closed(*silent); }, 2000));
}

TEST_F(MetricsServerTest, AnOversizedRequestIsLetGoBeforeItIsKept) {
    auto client = connectClient();
    client->write("GET /metrics HTTP/1.1\r\nX-Junk: " + QByteArray(8192, 'a'));
    EXPECT_TRUE(waitUntil([&] { return closed(*client); }));
    EXPECT_EQ(scrapes, 0);
    auto next = connectClient();
    EXPECT_TRUE(get(*next).startsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(MetricsServerTest, TooManyConnectionsLetTheLongestQuietGo) {
    // Deadlines far away: whatever is let go here is let go for a newcomer.
    exporter::MetricsServer patient{[] { return QByteArray("device_info_devices 1\n"); }};
    patient.setLimits(
        {.requestMs = 60000, .idleMs = 60000, .requestBytes = 4096, .connections = 4});
    ASSERT_TRUE(patient.listen(QHostAddress::LocalHost, 0, nullptr));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(connectClient(patient.port()));
        QTest::qWait(30);
    }
    auto fifth = connectClient(patient.port());
    EXPECT_TRUE(get(*fifth).startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(waitUntil([&] { return closed(*idle.front()); }));
    for (std::size_t i = 1; i < idle.size(); ++i)
        EXPECT_FALSE(closed(*idle[i])) << i;
}

TEST_F(MetricsServerTest, OnlyGetAndHeadOfItsTwoPaths) {
    struct Case {
        QByteArray request;
        const char* status;
        const char* body; // its end
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "</body></html>\n"},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
         "\r\n\r\nOnly GET and HEAD are served here.\n"},
        // As GET, with its length, and nothing after the head.
        {"HEAD / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "\r\nContent-Length: 273\r\n\r\n"},
        {"GET /metrics.txt HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found",
         "\r\n\r\nNot found: try /metrics.\n"},
        {"PUT /nowhere HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 404 Not Found",
         "\r\n\r\nNot found: try /metrics.\n"},
        // Not HTTP: answered, then let go.
        {"BREW /pot HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request",
         "\r\nConnection: close\r\n\r\nBad Request\n"},
    };
    for (const Case& c : cases) {
        auto client = connectClient();
        client->write(c.request);
        QByteArray got;
        waitUntil([&] { return (got += client->readAll()).endsWith(c.body); }, 1000);
        EXPECT_TRUE(got.startsWith(c.status)) << c.request.toStdString() << shown(got);
        EXPECT_TRUE(got.endsWith(c.body)) << c.request.toStdString() << shown(got);
        EXPECT_TRUE(got.contains(got.startsWith("HTTP/1.1 200")
                                     ? "\r\nContent-Type: text/html; charset=utf-8\r\n"
                                     : "\r\nContent-Type: text/plain; charset=utf-8\r\n"))
            << shown(got);
        EXPECT_EQ(got.startsWith("HTTP/1.1 405"), got.contains("\r\nAllow: GET, HEAD\r\n"));
    }
    EXPECT_EQ(scrapes, 0);
}

} // namespace
