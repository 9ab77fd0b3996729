// Measures battery care with no window (care::CareWatch) over ten devices of the three kinds:
// 5 simulated Android devices through a private adb server, 2 simulated iPhones behind one
// simulated usbmuxd, and a headset, a mouse and a UPS on python3-dbusmock's UPower on a private
// bus standing for the system bus. The session bus is a private one too, so that no desktop
// hears of it.
//   (M) its resident memory after round 100 and round ROUNDS, a round every 250 ms;
//   (U) a fresh watcher's processor time at the real interval of 60 s over MINUTES (and 5 s
//       more, so that the round due at the end is in), as a share of one core;
//   (L) how late each of its reads ended after its round was due.
// With the panel on, as device-info --care shows it: the item follows every change, and
//   (I) an update of the item's icon, tooltip and menu, each of 500 alternating glances of the
//       ten devices, timed on its own;
//   (F) device-info --follow --waybar beside it for the same minutes: its processor time and
//       how often it woke, against the lines it wrote.
//   watcher-bench [MINUTES] [ROUNDS]       defaults 10 and 1000
#include "adb_harness.h"
#include "care/care_watch.h"
#include "desktop/status_item.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kDevices = 10;
constexpr int kFastMs = 250; // ten devices' reads end well within it on two cores

[[noreturn]] void fail(const QString& why) {
    std::fprintf(stderr, "watcher-bench: %s\n", qPrintable(why));
    std::exit(1);
}

// A helper that prints one line once it is ready; told to end, and so to stop its bus, when
// this process ends without a word.
class Helper {
public:
    Helper(const QString& program, const QStringList& arguments) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(program, arguments);
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(20000))
                fail(QStringLiteral("%1 did not start").arg(program));
        }
        line = m_process.readLine().trimmed();
    }
    ~Helper() {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    Q_DISABLE_COPY_MOVE(Helper)
    QByteArray line;

private:
    QProcess m_process;
};

// This process's processor time, user and system, all threads, in seconds.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The heap in use, mapped blocks too: what grows here is kept, not merely held by the allocator.
std::size_t inUseKiB() {
    const struct mallinfo2 heap = mallinfo2();
    return (heap.uordblks + heap.hblkhd) / 1024;
}

care::CareWatch::Options optionsFor(const AdbHarness& harness, const QTemporaryDir& dir,
                                    const QString& state, int intervalMs) {
    care::CareWatch::Options options;
    // Apart, as in a home folder: writing the state is no change to the settings' folder.
    options.settingsPath = dir.filePath(QStringLiteral("config/care.conf"));
    options.statePath = dir.filePath(QStringLiteral("state/") + state);
    options.watch.server = harness.server();
    options.watch.mayStartServer = false;
    options.intervalMs = intervalMs;
    options.say = [](const QString& line) {
        std::fprintf(stderr, "watcher: %s\n", qPrintable(line));
    };
    options.showDevice = [](const QString&) {};
    return options;
}

void row(const char* figure, const QString& value, const char* target = "",
         const char* verdict = "") {
    std::printf("| %-58s | %-28s | %-8s | %-4s |\n", figure, qPrintable(value), target, verdict);
}

const char* met(bool yes) {
    return yes ? "yes" : "no";
}

// Processor seconds of process PID and its voluntary context switches (its wakeups), from /proc.
std::pair<double, long> processUse(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
        return {0, 0};
    // After the command's name in parentheses: utime and stime are the 12th and 13th fields.
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    const double ticks = double(sysconf(_SC_CLK_TCK));
    const double seconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
    long switches = 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            switches = line.mid(24).trimmed().toLong();
    }
    return {seconds, switches};
}

// (I): the item shown each of two glances in turn, each update timed; median and longest, ms.
std::pair<double, double> itemUpdates(const care::Glance& glance, const QDBusConnection& bus) {
    desktop::StatusItem item(bus, {}, 60000);
    care::Glance other = glance;
    for (care::GlanceRow& row : other.rows) {
        row.percent = row.percent.value_or(50) > 50 ? 20.0 : 80.0;
        row.line += QStringLiteral(", once more");
    }
    std::vector<double> ms;
    for (int i = 0; i < 500; ++i) {
        QElapsedTimer clock;
        clock.start();
        item.show(i % 2 ? other : glance);
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char* argv[]) {
    const double minutes = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 10.0;
    const int rounds = argc > 2 ? std::max(100, std::atoi(argv[2])) : 1000;
    QCoreApplication app(argc, argv);

    // Both buses before anything of this process connects to either.
    const Helper session(QStringLiteral("dbus-daemon"),
                         {"--session", "--print-address=1", "--nofork"});
    qputenv("DBUS_SESSION_BUS_ADDRESS", session.line);
    const Helper upower(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(DEVICE_INFO_SOURCE_DIR "/tools/device_sim/peripherals.py")});
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            upower.line.mid(qsizetype(sizeof "DBUS_SYSTEM_BUS_ADDRESS")));

    AdbHarness harness;
    if (!harness.error().isEmpty())
        fail(harness.error());
    for (const char* profile :
         {"current_phone", "older_phone", "tablet_on_mains", "old_tablet", "no_network"}) {
        if (!harness.startSimulator(QString::fromLatin1(profile)))
            fail(harness.error());
    }
    if (!harness.startIphones({QStringLiteral("current_iphone"), QStringLiteral("iphone_ios18")}))
        fail(harness.error());

    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(QStringLiteral("config")));
    QDir().mkpath(dir.filePath(QStringLiteral("state")));
    QFile settings(dir.filePath(QStringLiteral("config/care.conf")));
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write("[notifications]\nlowPercent=20\nchargedPercent=80\nhotCelsius=45\n"
                       "intervalSeconds=60\n[panel]\nshow=1\n") < 0)
        fail(QStringLiteral("cannot write the settings"));
    settings.close();
    const QDBusConnection bus = QDBusConnection::sessionBus();

    // (M) A round: every one of the ten, ready, has a read that ended since the last round.
    long rss100 = 0;
    long rssLast = 0;
    int done = 0;
    QElapsedTimer fastClock;
    {
        care::CareWatch fast(optionsFor(harness, dir, QStringLiteral("fast.json"), kFastMs), bus);
        fast.start();
        const DeviceWatch* watch = fast.watch();
        if (!watch)
            fail(QStringLiteral("the watcher reads nothing"));
        QHash<QString, double> ended; // each device's read end as of the last round
        QEventLoop loop;
        QObject::connect(watch, &DeviceWatch::changed, &loop, [&] {
            int ready = 0;
            for (const WatchedDevice& d : watch->devices()) {
                if (!survey::isReady(d.listed))
                    continue;
                ++ready;
                if (!d.lastReadTime || *d.lastReadTime == ended.value(d.listed.serial, -1))
                    return;
            }
            if (ready < kDevices)
                return;
            for (const WatchedDevice& d : watch->devices())
                ended.insert(d.listed.serial, d.lastReadTime.value_or(-1));
            if (++done == 1)
                fastClock.start();
            if (done == 100)
                rss100 = residentKiB();
            // Whether it grows steadily or settles, and whether what grows is in use (a leak)
            // or freed but kept by the allocator.
            if (done % 100 == 0)
                std::fprintf(stderr, "watcher-bench: round %d, %ld KiB resident, %zu KiB in use\n",
                             done, residentKiB(), inUseKiB());
            if (done == rounds)
                loop.quit();
        });
        QTimer::singleShot(rounds * kFastMs * 4 + 60000, &loop, &QEventLoop::quit);
        loop.exec();
        rssLast = residentKiB();
        if (done < 100)
            fail(QStringLiteral("only %1 rounds of all %2 devices").arg(done).arg(kDevices));
    }
    const double fastSeconds = double(fastClock.elapsed()) / 1000;
    QThread::msleep(2000); // the fast watcher's last reads are not counted as the other's

    // (U) and (L): rounds are due every interval from the watcher's start, its first round.
    // (F) beside it: the same devices, the same interval, from the same settings.
    QProcess follow;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("follow")));
    QDir().mkpath(dir.filePath(QStringLiteral("follow/device-info")));
    QFile::copy(dir.filePath(QStringLiteral("config/care.conf")),
                dir.filePath(QStringLiteral("follow/device-info/device-info.conf")));
    follow.setProcessEnvironment(environment);
    follow.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    follow.start(QStringLiteral(DEVICE_INFO_EXE), {"--follow", "--waybar"});
    int followLines = 0;
    std::pair<double, long> followAtFirst;
    QElapsedTimer sinceFirst;
    QObject::connect(&follow, &QProcess::readyReadStandardOutput, [&] {
        while (follow.canReadLine()) {
            follow.readLine();
            if (++followLines == 1) {
                followAtFirst = processUse(follow.processId());
                sinceFirst.start();
            }
        }
    });

    int reads = 0;
    int glances = 0;
    care::Glance lastGlance;
    double latest = -std::numeric_limits<double>::infinity();
    double earliest = std::numeric_limits<double>::infinity();
    QElapsedTimer wall;
    double cpu = 0;
    {
        care::CareWatch watcher(optionsFor(harness, dir, QStringLiteral("state.json"), 0), bus);
        const double start = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
        const double cpuBefore = cpuSeconds();
        wall.start();
        // The panel's item, as the watcher's face shows it.
        desktop::StatusItem item(bus, {}, 60000);
        QObject::connect(&watcher, &care::CareWatch::glanceChanged, &item,
                         [&](const care::Glance& glance) {
                             item.show(glance);
                             lastGlance = glance;
                             ++glances;
                         });
        watcher.start();
        const DeviceWatch* watch = watcher.watch();
        if (!watch || watch->intervalMs() != 60000)
            fail(QStringLiteral("the watcher does not read every 60 s"));
        const double interval = 60;
        QHash<QString, double> seen;
        QEventLoop loop;
        QObject::connect(watch, &DeviceWatch::changed, &loop, [&] {
            for (const WatchedDevice& d : watch->devices()) {
                if (!d.lastReadTime || seen.value(d.listed.serial) == *d.lastReadTime)
                    continue;
                seen.insert(d.listed.serial, *d.lastReadTime);
                ++reads;
                // Its round is the one due nearest to its end: a coarse timer may fire early.
                const double due =
                    start + std::round((*d.lastReadTime - start) / interval) * interval;
                latest = std::max(latest, *d.lastReadTime - due);
                earliest = std::min(earliest, *d.lastReadTime - due);
            }
        });
        QTimer::singleShot(int(minutes * 60000) + 5000, &loop, &QEventLoop::quit);
        loop.exec();
        cpu = (cpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000) * 100;
    }
    const std::pair<double, long> followAtEnd = processUse(follow.processId());
    const double followCpu =
        (followAtEnd.first - followAtFirst.first) / (double(wall.elapsed()) / 1000 - 5) * 100;
    follow.terminate();
    follow.waitForFinished(5000);
    const auto [updateMedian, updateLongest] = itemUpdates(lastGlance, bus);

    const double growth = 100.0 * double(rssLast - rss100) / double(rss100);
    std::printf("| figure | value | target | met |\n|---|---|---|---|\n");
    row("(M) resident memory after round 100", QStringLiteral("%L1 KiB").arg(rss100));
    row(qPrintable(QStringLiteral("(M) resident memory after round %1").arg(done)),
        QStringLiteral("%L1 KiB").arg(rssLast));
    row("(M) its growth", QStringLiteral("%1%").arg(growth, 0, 'f', 2), "< 2%", met(growth < 2));
    row(qPrintable(QStringLiteral("(M) %1 rounds at %2 ms took").arg(done).arg(kFastMs)),
        QStringLiteral("%1 s").arg(fastSeconds, 0, 'f', 1));
    row(qPrintable(QStringLiteral("(U) processor time over %1 s, a round every 60 s")
                       .arg(double(wall.elapsed()) / 1000, 0, 'f', 0)),
        QStringLiteral("%1% of a core").arg(cpu, 0, 'f', 3), "< 0.2%", met(cpu < 0.2));
    row("(L) latest read end after its round was due",
        QStringLiteral("%1 s (earliest %2 s)").arg(latest, 0, 'f', 2).arg(earliest, 0, 'f', 2),
        "<= 2 s", met(reads > 0 && latest <= 2));
    row("(L) reads seen", QString::number(reads));
    row("(U) the panel's item updated, what it showed having changed", QString::number(glances));
    row("(I) an icon, tooltip and menu update, median of 500",
        QStringLiteral("%1 ms").arg(updateMedian, 0, 'f', 3), "< 5 ms", met(updateMedian < 5));
    row("(I) the same, longest", QStringLiteral("%1 ms").arg(updateLongest, 0, 'f', 3), "< 5 ms",
        met(updateLongest < 5));
    row("(F) --follow's processor time after its first line",
        QStringLiteral("%1% of a core").arg(followCpu, 0, 'f', 3), "< 0.2%", met(followCpu < 0.2));
    row("(F) its lines, and its wakeups after the first",
        QStringLiteral("%1 lines, %2 wakeups")
            .arg(followLines)
            .arg(followAtEnd.second - followAtFirst.second));
    row("machine", QStringLiteral("%1 cores (nproc)").arg(QThread::idealThreadCount()));
    return 0;
}
