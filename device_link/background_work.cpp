#include "device_link/background_work.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThreadPool>

#include <openssl/crypto.h>
#include <sys/resource.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace device {
namespace {

struct Running {
    std::mutex mutex;
    std::condition_variable allDone;
    int count = 0;
};

Running& running() {
    static auto* work = new Running; // never destroyed: work may outlive main
    return *work;
}

} // namespace

BackgroundWork::BackgroundWork() {
    const std::lock_guard lock(running().mutex);
    ++running().count;
}

BackgroundWork::~BackgroundWork() {
    Running& work = running();
    const std::lock_guard lock(work.mutex);
    if (--work.count == 0)
        work.allDone.notify_all();
}

bool runInBackground(std::function<void()> work) {
    auto counted = std::make_shared<BackgroundWork>();
    try {
        std::thread([counted = std::move(counted), work = std::move(work)]() mutable {
            // Behind the thread that serves people (the window's, the exporter's), which it
            // would otherwise hold up on a busy computer; threads it starts take the same.
            ::setpriority(PRIO_PROCESS, 0, 5);
            work();
            work = nullptr; // what it holds goes before it counts as done
            // So does what OpenSSL keeps for this thread (an iPhone's session): freed only as
            // the thread ends, it could be mid-free when the program's end finds it.
            OPENSSL_thread_stop();
            counted.reset();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

int endProgram(int status, std::chrono::milliseconds within) {
    const QDeadlineTimer deadline(within);
    Running& work = running();
    std::unique_lock lock(work.mutex);
    const bool allDone = work.allDone.wait_for(lock, within, [&work] { return work.count == 0; });
    lock.unlock();
    if (allDone && QThreadPool::globalInstance()->waitForDone(int(deadline.remainingTime())))
        return status;
    std::fflush(nullptr);
    std::_Exit(status);
}

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

bool quitOnSignals() {
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return false;
    auto* notifier =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

} // namespace device
