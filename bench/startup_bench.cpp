// Measures the app's start to its first shown frame and its resident memory beside a bare Qt
// window built the same way and one that shows a single line of text (any text makes Qt load
// its font database, which a bare window never does), and the app's CPU time while idle with a
// device attached.
//   startup-bench [REPETITIONS] [IDLE_SECONDS]     (run under a display, e.g. xvfb-run -a)
#include "adb_harness.h"
#include "device_link/adb/adb_link.h"
#include "display/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// Prints "shown RSS" once the window's first frame has been painted, then quits.
class FirstFrame : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QMetaObject::invokeMethod(
                qApp,
                [] {
                    std::printf("shown %ld\n", residentKiB());
                    std::fflush(stdout);
                    QCoreApplication::quit();
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};

int probe(int argc, char* argv[], const QByteArray& mode) {
    QApplication app(argc, argv);
    FirstFrame watcher;
    std::unique_ptr<QWidget> window;
    if (mode == "form") {
        window = std::make_unique<Form1>(std::make_unique<AdbLink>());
    } else {
        window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("Device Info"));
        window->setFixedSize(411, 365);
        if (mode == "label")
            new QLabel(QStringLiteral("Device Connection Status"), window.get()); // owned
    }
    window->installEventFilter(&watcher);
    window->show();
    return QApplication::exec();
}

struct StartFigures {
    double medianMs = 0;
    long rssKiB = 0;
};

StartFigures measureStart(const QString& self, const char* mode, int repetitions,
                          const QProcessEnvironment& env) {
    std::vector<double> times;
    long rss = 0;
    for (int i = 0; i < repetitions; ++i) {
        QProcess child;
        child.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        child.start(self, {QStringLiteral("--probe"), QString::fromLatin1(mode)});
        child.waitForFinished(20000);
        const QByteArray out = child.readAllStandardOutput().trimmed();
        if (!out.startsWith("shown "))
            continue;
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        rss = out.mid(6).toLong();
    }
    if (times.empty())
        return {};
    std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
    return {times[times.size() / 2], rss};
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && QByteArray(argv[1]) == "--probe")
        return probe(argc, argv, QByteArray(argv[2]));

    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;

    AdbHarness harness;
    if (!harness.error().isEmpty() || !harness.startSimulator(QStringLiteral("current_phone"))) {
        std::fprintf(stderr, "startup-bench: %s\n", qPrintable(harness.error()));
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());

    const QString self = QCoreApplication::applicationFilePath();
    const StartFigures bare = measureStart(self, "bare", repetitions, env);
    const StartFigures label = measureStart(self, "label", repetitions, env);
    const StartFigures form = measureStart(self, "form", repetitions, env);
    std::printf("start to first frame, bare Qt window: %7.1f ms, resident %6ld KiB\n",
                bare.medianMs, bare.rssKiB);
    std::printf("start to first frame, one text label: %7.1f ms, resident %6ld KiB\n",
                label.medianMs, label.rssKiB);
    std::printf("start to first frame, Device Info:    %7.1f ms, resident %6ld KiB\n",
                form.medianMs, form.rssKiB);
    std::printf("Device Info / bare: time %.2f, memory %.2f; / one label: time %.2f, memory %.2f\n",
                form.medianMs / bare.medianMs, double(form.rssKiB) / double(bare.rssKiB),
                form.medianMs / label.medianMs, double(form.rssKiB) / double(label.rssKiB));

    // Idle: the app with a device attached, left alone.
    QProcess appProcess;
    appProcess.setProcessEnvironment(env);
    appProcess.setProcessChannelMode(QProcess::ForwardedChannels);
    appProcess.start(QStringLiteral(DEVICE_INFO_EXE), {});
    if (!appProcess.waitForStarted(5000))
        return 1;
    QThread::sleep(3); // connected and refreshed
    auto cpuTicks = [&appProcess] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(appProcess.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1L;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1L;
    };
    const long before = cpuTicks();
    QThread::sleep(unsigned(idleSeconds));
    const long after = cpuTicks();
    const double ms = double(after - before) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    std::printf("CPU time over %d s idle with a device attached: %.0f ms (%.3f%% of a core)\n",
                idleSeconds, ms, ms / (idleSeconds * 10.0));
    appProcess.kill();
    appProcess.waitForFinished(5000);
    return 0;
}
