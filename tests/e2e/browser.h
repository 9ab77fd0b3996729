// Debian's Chromium, headless, for the tests and benchmarks of the exporter's page: a page
// loaded and read through the DevTools protocol, what its console, its log and its Content
// Security Policy said, and screenshots; or a page's DOM dumped once, as --dump-dom gives it.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QWebSocket>

#include <map>

class Browser {
public:
    // Chromium's path; empty where it is not installed.
    static QString executable();
    // URL's DOM after its scripts ran for MS of virtual time.
    static QByteArray dumpDom(const QString& url, int ms = 5000);

    Browser();
    ~Browser();
    Q_DISABLE_COPY_MOVE(Browser)

    // Empty when the browser is up and driven; otherwise why not.
    const QString& error() const { return m_error; }
    // Loads URL; whether its load event came within MS.
    bool open(const QString& url, int ms = 20000);
    // What EXPRESSION gives in the page, by value.
    QJsonValue evaluate(const QString& expression, int ms = 10000);
    // A PNG of the whole page at WIDTH pixels, light or DARK as the browser would prefer.
    QByteArray screenshot(int width, bool dark);
    // Errors and warnings of the console and the log (a page refused by its CSP among them),
    // exceptions, and dialogs a script opened.
    const QStringList& problems() const { return m_problems; }
    void clearProblems() { m_problems.clear(); }

private:
    QJsonObject call(const QString& method, const QJsonObject& params = {}, int ms = 10000);
    void onMessage(const QString& text);

    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_socket;
    int m_next = 0;
    std::map<int, QJsonObject> m_replies;
    bool m_loaded = false;
    QStringList m_problems;
    QString m_error;
};
