// Measures the program as a lab's script uses it, against 16 simulated Android phones with the
// slow profile and 2 simulated slow iPhones behind one simulated usbmuxd, on this machine:
//   (A) "device-info --report --all --json" for all 18, median time and peak memory;
//   (O) "device-info --report --json --serial ONE" for one phone, likewise;
//   (L) the loop a script writes without it: "adb -s SERIAL shell COMMAND" for each command
//       the report needs, one device after another, and "ideviceinfo -q DOMAIN" for each
//       domain of each iPhone.
//   report-bench [REPETITIONS]
#include "adb_harness.h"
#include "bench_support.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace bench;

namespace {

struct Run {
    double ms = -1;
    long peakKiB = -1;
    QByteArray out;
};

// Runs PROGRAM to its end; its time, its peak resident memory as the kernel counts it, and its
// standard output.
Run runMeasured(const QString& program, const QStringList& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<QByteArray> words{program.toLocal8Bit()};
    for (const QString& a : arguments)
        words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    Run run;
    char chunk[65536];
    ssize_t n = 0;
    while (spawned == 0 && (n = read(pipeFds[0], chunk, sizeof chunk)) > 0)
        run.out.append(chunk, qsizetype(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return {};
    run.ms = msSince(clock);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// The median run of several; fails (ms -1) if any did.
Run medianRun(int repetitions, const QString& program, const QStringList& arguments) {
    std::vector<Run> runs;
    for (int i = 0; i < repetitions; ++i) {
        runs.push_back(runMeasured(program, arguments));
        if (runs.back().ms < 0)
            return {};
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.ms < b.ms; });
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(3, std::atoi(argv[1])) : 5;
    AdbHarness harness;
    if (!harness.error().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(harness.error()));
        return 1;
    }
    std::vector<SimulatorProcess*> phones;
    for (int i = 0; i < 16; ++i) {
        SimulatorProcess* phone = harness.startSimulator(QStringLiteral("slow_phone"));
        if (!phone) {
            std::fprintf(stderr, "%s\n", qPrintable(harness.error()));
            return 1;
        }
        phones.push_back(phone);
    }
    SimulatorProcess* iphones =
        harness.startIphones({QStringLiteral("slow_iphone"), QStringLiteral("slow_iphone")});
    if (!iphones) {
        std::fprintf(stderr, "%s\n", qPrintable(harness.error()));
        return 1;
    }
    qputenv("ADB_SERVER_SOCKET", harness.socketSpec().toUtf8());
    qunsetenv("DISPLAY");
    qunsetenv("ANDROID_SERIAL");
    const QString program = QStringLiteral(DEVICE_INFO_EXE);

    const Run all = medianRun(repetitions, program, {"--report", "--all", "--json"});
    const QJsonArray reports = QJsonDocument::fromJson(all.out).array();
    if (all.ms < 0 || reports.size() != 18) {
        std::fprintf(stderr, "--report --all read %d of 18 devices\n", int(reports.size()));
        return 1;
    }
    const Run one = medianRun(repetitions, program,
                              {"--report", "--json", "--serial", phones.front()->serial()});
    if (one.ms < 0) {
        std::fprintf(stderr, "--report --serial failed\n");
        return 1;
    }

    // The loop a lab's script writes today, one command and one device after another.
    QStringList serials;
    for (const SimulatorProcess* phone : phones)
        serials << phone->serial();
    QStringList udids;
    for (const QJsonValue& report : reports) {
        if (report["kind"].toString() == QLatin1String("ios"))
            udids << report["serial"].toString();
    }
    const QList<QStringList> loop = scriptLoop(harness.port(), serials, udids);
    const double scripted = runTools(loop);
    if (scripted < 0) {
        std::fprintf(stderr, "a command of the script's loop failed\n");
        return 1;
    }

    std::printf("report of all 18 (A), median of %d:            %8.1f ms, peak %ld KiB\n",
                repetitions, all.ms, all.peakKiB);
    std::printf("report of one phone (O), median of %d:         %8.1f ms, peak %ld KiB\n",
                repetitions, one.ms, one.peakKiB);
    std::printf("a script's loop of adb shell and ideviceinfo (L): %8.1f ms (%d commands)\n",
                scripted, int(loop.size()));
    std::printf("A/O = %.2f (target <= 2)   L/A = %.1f (target >= 10)   memory A/O = %.2f "
                "(target <= 2)\n",
                all.ms / one.ms, scripted / all.ms, double(all.peakKiB) / double(one.peakKiB));
    return 0;
}
