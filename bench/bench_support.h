// What the phone benchmarks share: medians, spinning the event loop until something shows, and
// a heartbeat that sees how long the window's thread was blocked.
#pragma once

#include "device_link/adb/adb_commands.h"
#include "device_link/ios/ios_values.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unistd.h>
#include <vector>

namespace bench {

// The phone benchmarks' two arguments: how many presses and raw exchanges, and how many
// connections; headless unless a platform is chosen.
struct Counts {
    int repetitions;
    int connections;
};
inline Counts countsFrom(int argc, char* argv[], Counts defaults) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return {argc > 1 ? std::max(3, std::atoi(argv[1])) : defaults.repetitions,
            argc > 2 ? std::max(1, std::atoi(argv[2])) : defaults.connections};
}

inline double median(std::vector<double> samples) {
    std::nth_element(samples.begin(), samples.begin() + long(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

inline double msSince(const QElapsedTimer& clock) {
    return double(clock.nsecsElapsed()) / 1e6;
}

// Runs command-line tools one after another, as a script would; their time in milliseconds, or
// -1 when one failed.
inline double runTools(const QList<QStringList>& commands) {
    QElapsedTimer clock;
    clock.start();
    for (const QStringList& command : commands) {
        QProcess tool;
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.start(command.first(), command.mid(1));
        if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
            return -1;
    }
    return msSince(clock);
}

// The loop a lab's script runs without Device Info, one command and one device after another:
// for each phone "adb shell" with each command a report needs, for each iPhone "ideviceinfo"
// for the general domain and each other domain a report reads.
inline QList<QStringList> scriptLoop(quint16 adbPort, const QStringList& serials,
                                     const QStringList& udids) {
    QList<QStringList> loop;
    std::vector<QByteArray> commands = adb::command::RefreshSet;
    commands.push_back(adb::command::Address);
    commands.push_back(adb::command::BatteryHealth);
    const QString port = QString::number(adbPort);
    for (const QString& serial : serials) {
        for (const QByteArray& command : commands)
            loop << QStringList{
                "adb", "-P", port, "-s", serial, "shell", QString::fromUtf8(command)};
    }
    for (const QString& udid : udids) {
        loop << QStringList{"ideviceinfo", "-u", udid};
        for (const char* domain : {ios::kBatteryDomain, ios::kDiskDomain, ios::kITunesDomain})
            loop << QStringList{"ideviceinfo", "-u", udid, "-q", QString::fromLatin1(domain)};
    }
    return loop;
}

// Runs the event loop until done() holds, never sleeping on the window's thread.
inline bool spinUntil(const std::function<bool()>& done, int ms = 20000) {
    const QDeadlineTimer deadline(ms);
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    check.start(1);
    if (!done())
        loop.exec();
    return done();
}

// The longest gap between ticks of a 1 ms timer: how long the thread did not get to it.
// A field of /proc/PID/status, in KiB.
inline long statusKiB(qint64 pid, const char* field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Processor time, user and system, in seconds.
inline double cpuSeconds(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = file.readAll().split(')').last().trimmed().split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

class Heartbeat {
public:
    Heartbeat() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, msSince(m_clock));
            m_clock.restart();
        });
    }
    void start() {
        m_longest = 0;
        m_clock.start();
        m_timer.start(1);
    }
    double stop() {
        m_timer.stop();
        return std::max(m_longest, msSince(m_clock));
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_longest = 0;
};

// How long each of N presses takes, with a turn of the event loop between presses as a user
// gives, in milliseconds.
template <typename Press> std::vector<double> timePresses(int n, Press press) {
    std::vector<double> times;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer clock;
        clock.start();
        press();
        times.push_back(msSince(clock));
        QCoreApplication::processEvents();
    }
    return times;
}

} // namespace bench
