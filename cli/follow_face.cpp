#include "cli/follow_face.h"

#include "care/battery_feed.h"
#include "device_link/adb/adb_protocol.h"
#include "device_link/background_work.h"
#include "report/json_report.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace cli {
namespace {

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

// Lines to a pipe without ever blocking: a reader that stalls gets the newest line once it reads
// again, not a backlog, and SIGTERM is heard meanwhile. A line begun is always finished.
class LineWriter : public QObject {
public:
    // ENDED hears the status to end with: 0 once the reader has gone, 1 where a line could not
    // be written (a full disk), said on standard error.
    LineWriter(int fd, std::function<void(int)> ended)
        : m_fd(fd), m_ended(std::move(ended)), m_writable(fd, QSocketNotifier::Write) {
        m_writable.setEnabled(false);
        connect(&m_writable, &QSocketNotifier::activated, this, &LineWriter::flush);
    }

    void put(const QByteArray& line) {
        if (m_pending.isEmpty() || m_done == 0) {
            m_pending = line;
            m_done = 0;
        } else {
            m_next = line; // after the one half written, only the newest
        }
        flush();
    }

private:
    void flush() {
        m_writable.setEnabled(false);
        while (!m_pending.isEmpty()) {
            pollfd out{m_fd, POLLOUT, 0};
            const int ready = ::poll(&out, 1, 0);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || (out.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return m_ended(0);
            if (!(out.revents & POLLOUT))
                return m_writable.setEnabled(true);
            // No more than a pipe takes at once once it says it has room: the write never waits.
            const qsizetype chunk = std::min<qsizetype>(PIPE_BUF, m_pending.size() - m_done);
            const ssize_t written = ::write(m_fd, m_pending.constData() + m_done, size_t(chunk));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && errno == EAGAIN)
                return m_writable.setEnabled(true);
            if (written < 0 && errno == EPIPE)
                return m_ended(0);
            if (written < 0) {
                say(QStringLiteral("cannot write to standard output: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
                return m_ended(1);
            }
            m_done += written;
            if (m_done == m_pending.size()) {
                m_pending = std::exchange(m_next, QByteArray());
                m_done = 0;
            }
        }
    }

    int m_fd;
    std::function<void(int)> m_ended;
    QSocketNotifier m_writable;
    QByteArray m_pending;
    qsizetype m_done = 0;
    QByteArray m_next;
};

} // namespace

QByteArray followJsonLine(const std::vector<care::Watched>& devices) {
    QJsonArray array;
    for (const care::Watched& d : devices) {
        if (d.reading && survey::isReady(d.listed))
            array.append(report::readingJson(*d.reading));
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n';
}

int runFollow(bool waybar) {
    if (!device::quitOnSignals()) {
        say(QStringLiteral("cannot catch SIGTERM"));
        return 1;
    }
    // A reader gone is a write that fails, not a signal that ends the program unheard.
    std::signal(SIGPIPE, SIG_IGN);
    care::BatteryFeed::Options options;
    options.settingsPath = care::careSettingsPath();
    options.watch.server =
        adb::serverAddressFromEnvironment(QProcessEnvironment::systemEnvironment());
    options.say = &say;
    options.reads = [](const care::CareSettings&) { return true; };
    care::BatteryFeed feed(std::move(options));
    LineWriter out(STDOUT_FILENO, [](int status) { QCoreApplication::exit(status); });
    QByteArray last;
    const auto print = [&] {
        // Once every device has been read a first time: a bar shows no half-read round.
        if (last.isEmpty() && !(feed.watch() && feed.watch()->firstRoundDone()))
            return;
        const std::vector<care::Watched> devices = feed.devices();
        const QByteArray line =
            waybar ? care::waybarLine(care::glance(devices, feed.settings().limits))
                   : followJsonLine(devices);
        if (line == last)
            return;
        last = line;
        out.put(line);
    };
    // A pipe whose reader closed says so at once: the bar that ran it has gone.
    QSocketNotifier gone(STDOUT_FILENO, QSocketNotifier::Exception);
    QObject::connect(&gone, &QSocketNotifier::activated, [&gone] {
        pollfd out{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)))
            QCoreApplication::exit(0);
        else
            gone.setEnabled(false); // something else: the next line tells
    });
    QObject::connect(&feed, &care::BatteryFeed::devicesChanged, print);
    QObject::connect(&feed, &care::BatteryFeed::settingsChanged, print);
    feed.start();
    return QCoreApplication::exec();
}

} // namespace cli
