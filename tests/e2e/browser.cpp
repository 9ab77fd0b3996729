#include "browser.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace {

// As the probe of this kind of machine runs it: no sandbox as root, and nothing fetched from
// elsewhere, which a closed network would refuse again and again.
QStringList flags(const QString& profile) {
    return {"--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--hide-scrollbars",
            "--user-data-dir=" + profile};
}

template <typename Done> bool spin(Done&& done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

} // namespace

QString Browser::executable() {
    return QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

QByteArray Browser::dumpDom(const QString& url, int ms) {
    QTemporaryDir profile;
    QProcess chromium;
    chromium.setStandardErrorFile(QProcess::nullDevice());
    QStringList arguments = flags(profile.path());
    arguments << "--dump-dom" << QStringLiteral("--virtual-time-budget=%1").arg(ms);
    chromium.start(executable(), arguments << url);
    if (!chromium.waitForFinished(ms + 30000))
        chromium.kill();
    return chromium.readAllStandardOutput();
}

Browser::Browser() {
    if (executable().isEmpty()) {
        m_error = QStringLiteral("Debian's chromium is not installed");
        return;
    }
    m_process.setReadChannel(QProcess::StandardError);
    m_process.start(executable(), flags(m_profile.path()) << "--remote-debugging-port=0"
                                                          << "--remote-allow-origins=*"
                                                          << "about:blank");
    static const QRegularExpression listening(
        QStringLiteral("DevTools listening on ws://127\\.0\\.0\\.1:(\\d+)/"));
    QByteArray said;
    QString port;
    spin(
        [&] {
            m_process.waitForReadyRead(50);
            said += m_process.readAllStandardError();
            port = listening.match(QString::fromUtf8(said)).captured(1);
            return !port.isEmpty() || m_process.state() == QProcess::NotRunning;
        },
        30000);
    if (port.isEmpty()) {
        m_error = QStringLiteral("chromium did not start: ") + QString::fromUtf8(said.right(400));
        return;
    }
    // The page it opened, and its own socket.
    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(QNetworkRequest(QUrl("http://127.0.0.1:" + port + "/json")));
    spin([reply] { return reply->isFinished(); }, 10000);
    QString page;
    for (const QJsonValue& target : QJsonDocument::fromJson(reply->readAll()).array()) {
        if (target[QLatin1String("type")].toString() == QLatin1String("page"))
            page = target[QLatin1String("webSocketDebuggerUrl")].toString();
    }
    reply->deleteLater();
    QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                     [this](const QString& text) { onMessage(text); });
    m_socket.open(QUrl(page));
    if (page.isEmpty() ||
        !spin([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 10000)) {
        m_error = QStringLiteral("no DevTools connection to chromium's page");
        return;
    }
    for (const char* domain : {"Page.enable", "Runtime.enable", "Log.enable"})
        call(QString::fromLatin1(domain));
}

Browser::~Browser() {
    m_socket.close();
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
}

void Browser::onMessage(const QString& text) {
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.contains(QLatin1String("id"))) {
        m_replies[message[QLatin1String("id")].toInt()] = message;
        return;
    }
    const QString method = message[QLatin1String("method")].toString();
    const QJsonObject params = message[QLatin1String("params")].toObject();
    if (method == QLatin1String("Page.loadEventFired")) {
        m_loaded = true;
    } else if (method == QLatin1String("Log.entryAdded")) {
        const QJsonObject entry = params[QLatin1String("entry")].toObject();
        const QString level = entry[QLatin1String("level")].toString();
        if (level == QLatin1String("error") || level == QLatin1String("warning"))
            m_problems << entry[QLatin1String("source")].toString() + QStringLiteral(": ") +
                              entry[QLatin1String("text")].toString();
    } else if (method == QLatin1String("Runtime.consoleAPICalled")) {
        const QString type = params[QLatin1String("type")].toString();
        if (type == QLatin1String("error") || type == QLatin1String("warning"))
            m_problems << QStringLiteral("console: ") +
                              QString::fromUtf8(
                                  QJsonDocument(params[QLatin1String("args")].toArray())
                                      .toJson(QJsonDocument::Compact));
    } else if (method == QLatin1String("Runtime.exceptionThrown")) {
        m_problems
            << QStringLiteral("exception: ") +
                   params[QLatin1String("exceptionDetails")][QLatin1String("text")].toString();
    } else if (method == QLatin1String("Page.javascriptDialogOpening")) {
        m_problems << QStringLiteral("dialog: ") + params[QLatin1String("message")].toString();
        const int id = ++m_next;
        m_socket.sendTextMessage(
            QString::fromUtf8(QJsonDocument(QJsonObject{{"id", id},
                                                        {"method", "Page.handleJavaScriptDialog"},
                                                        {"params", QJsonObject{{"accept", true}}}})
                                  .toJson(QJsonDocument::Compact)));
    }
}

QJsonObject Browser::call(const QString& method, const QJsonObject& params, int ms) {
    const int id = ++m_next;
    m_socket.sendTextMessage(QString::fromUtf8(
        QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}})
            .toJson(QJsonDocument::Compact)));
    if (!spin([&] { return m_replies.count(id) > 0; }, ms))
        return {};
    QJsonObject reply = m_replies[id];
    m_replies.erase(id);
    return reply[QLatin1String("result")].toObject();
}

bool Browser::open(const QString& url, int ms) {
    m_loaded = false;
    call(QStringLiteral("Page.navigate"), {{"url", url}});
    return spin([this] { return m_loaded; }, ms);
}

QJsonValue Browser::evaluate(const QString& expression, int ms) {
    return call(QStringLiteral("Runtime.evaluate"),
                {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}},
                ms)[QLatin1String("result")][QLatin1String("value")];
}

QByteArray Browser::screenshot(int width, bool dark) {
    const auto metrics = [this, width](int height) {
        call(QStringLiteral("Emulation.setDeviceMetricsOverride"), {{"width", width},
                                                                    {"height", height},
                                                                    {"deviceScaleFactor", 1},
                                                                    {"mobile", width < 600}});
    };
    call(QStringLiteral("Emulation.setEmulatedMedia"),
         {{"features", QJsonArray{QJsonObject{{"name", "prefers-color-scheme"},
                                              {"value", dark ? "dark" : "light"}}}}});
    metrics(600);
    metrics(qMax(200, evaluate(QStringLiteral("document.documentElement.scrollHeight")).toInt()));
    return QByteArray::fromBase64(call(QStringLiteral("Page.captureScreenshot"),
                                       {{"format", "png"}}, 20000)[QLatin1String("data")]
                                      .toString()
                                      .toLatin1());
}
