// The title the window system receives, read back from the X server: Qt's xcb platform may
// decorate what windowTitle() says. Runs under Xvfb with the xcb platform.
#include "desktop/desktop_integration.h"
#include "display/form1.h"
#include "qt_printers.h"
#include "scripted_link.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString titleOnTheServer(const QWidget& window) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("getwindowname"), QString::number(window.winId())});
    if (!xdotool.waitForFinished(5000))
        return QStringLiteral("(xdotool did not answer)");
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

QString settledTitle(const QWidget& window, const QString& expected) {
    const QDeadlineTimer deadline(3000);
    QString title = titleOnTheServer(window);
    while (title != expected && !deadline.hasExpired()) {
        QTest::qWait(50);
        title = titleOnTheServer(window);
    }
    return title;
}

TEST(VisibleTitle, IsExactlyTheCaptionWithAndWithoutADeviceName) {
    desktop::nameApplication();
    auto owned = std::make_unique<ScriptedLink>();
    ScriptedLink* link = owned.get();
    ScriptedLink::scriptPhone(*link);
    Form1 form(std::move(owned));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(settledTitle(form, "Device Info"), "Device Info");
    // "[*]" is Qt's modified marker in titles; a device's name keeps it literally.
    for (const QString& name : {QStringLiteral("Pixel 7"), QStringLiteral("Lab [*] 07 [*]")}) {
        link->set("ReadRegistryValue", name);
        link->raise(Pelorin::EventConnected);
        const QString expected = "Device Info (" + name + ")";
        EXPECT_EQ(settledTitle(form, expected), expected);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
