// A real Form1 on an AdbLink to a private adb server, with helpers to wait on what it shows.
#pragma once

#include "../qt_printers.h"

#include "adb_harness.h"
#include "desktop/battery_history.h"
#include "desktop/desktop_integration.h"
#include "device_link/adb/adb_commands.h"
#include "device_link/adb/adb_link.h"
#include "device_link/combined_link.h"
#include "display/form1.h"
#include "history/history_recorder.h"
#include "history/history_writer.h"
#include "layout/progress_bar.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

// What the program writes to standard error while one lives: the links' sentences.
class CapturedStderr {
public:
    CapturedStderr() {
        std::fflush(stderr);
        m_saved = ::dup(2);
        if (m_file.open())
            ::dup2(m_file.handle(), 2);
    }
    ~CapturedStderr() { release(); }
    Q_DISABLE_COPY_MOVE(CapturedStderr)

    // Every line written so far; standard error is the terminal's again.
    QStringList lines() {
        release();
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    void release() {
        std::fflush(stderr);
        if (m_saved >= 0)
            ::dup2(m_saved, 2);
        if (m_saved >= 0)
            ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!harness.error().isEmpty())
            FAIL() << harness.error().toStdString();
    }

    // The window on a link to the private server, its link's events recorded and its status
    // shown as the app shows it.
    void openWindow(int queryDeadlineMs = 3000) {
        openWindowOn(std::make_unique<AdbLink>(harness.socketSpec()), queryDeadlineMs);
    }
    void openWindowOn(std::unique_ptr<AdbLink> link, int queryDeadlineMs = 3000) {
        onHarness(*link, queryDeadlineMs);
        adbLink = link.get();
        openWindowWith(std::move(link));
    }
    // A link to the private server that never starts one of its own.
    static void onHarness(AdbLink& link, int queryDeadlineMs = 3000) {
        link.setMayStartServer(false);
        link.setLimits({.deadlineMs = queryDeadlineMs, .maxBytes = 1 << 20});
    }
    // The window as the app makes it, on the private adb server, keeping a history at PATH.
    CombinedLink& openKeeping(const QString& path) {
        auto android = std::make_unique<AdbLink>(harness.socketSpec());
        onHarness(*android);
        adbLink = android.get();
        std::vector<CombinedLink::Kind> kinds;
        kinds.push_back({QStringLiteral("Android:"), std::move(android)});
        auto combined = std::make_unique<CombinedLink>(std::move(kinds));
        CombinedLink& link = *combined;
        openWindowWith(std::move(combined));
        writer = std::make_unique<history::Writer>(path);
        desktop::installHistory(*form, link, *writer, recorder, path);
        return link;
    }
    // The window on any link, its events recorded and its status shown as the app shows it.
    void openWindowWith(std::unique_ptr<KindLink> link) {
        QObject::connect(link.get(), &Pelorin::ConnectionEvent,
                         [this](qint32 code, const QString&) { codes.push_back(code); });
        statusLink = link.get();
        form = std::make_unique<Form1>(std::move(link));
        desktop::showLink(*form, *statusLink);
        failures = std::make_unique<QSignalSpy>(form.get(), &Form1::failureReported);
        form->show();
    }

    template <typename Done> bool waitUntil(Done&& done, int ms = 10000) {
        const QDeadlineTimer deadline(ms);
        while (!done() && !deadline.hasExpired())
            QTest::qWait(20);
        return done();
    }

    QString text(const char* name) const {
        return form->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    float bar(const char* name) const {
        return form->findChild<ProgressBar*>(QString::fromLatin1(name))->value();
    }
    bool connectedLook() const {
        return !form->findChild<QWidget*>("ConnectedPicture")->isHidden() &&
               form->findChild<QWidget*>("DisconnectedPicture")->isHidden();
    }
    // Puts the device in a misbehaving mode ("hang", "flood"), presses Refresh and returns what
    // was reported; then lets the device behave and checks that the next refresh works.
    QString failedRefreshWhile(SimulatorProcess& device, const QString& mode) {
        EXPECT_EQ(device.control(mode), "ok");
        const qsizetype before = failures->count();
        QElapsedTimer clock;
        clock.start();
        refresh()->click();
        EXPECT_LT(clock.elapsed(), 5000) << "the refresh ends within its deadlines";
        EXPECT_EQ(failures->count(), before + 1);
        const QString message =
            failures->count() > before ? failures->last().at(0).toString() : QString();
        EXPECT_EQ(device.control("resume"), "ok");
        refresh()->click();
        EXPECT_EQ(failures->count(), before + 1) << "the refresh after resuming works";
        return message;
    }

    void expectCurrentPhoneShown();

    QPushButton* refresh() const { return form->findChild<QPushButton*>("RefreshCommand"); }

    AdbHarness harness;
    // Before the window, which writes through them until it goes.
    history::Recorder recorder;
    std::unique_ptr<history::Writer> writer;
    std::unique_ptr<Form1> form;
    AdbLink* adbLink = nullptr;
    KindLink* statusLink = nullptr;
    std::unique_ptr<QSignalSpy> failures;
    std::vector<int> codes;
};
