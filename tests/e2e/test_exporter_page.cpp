// The exporter's page of devices in a real browser, Debian's Chromium, headless: three Android
// devices (one unauthorized, one hot, one worn and named like markup) and an iPhone, each row
// with its values, worst first; the same table with and without JavaScript; no device's string
// ever markup or script; a device that goes leaves the table at the next poll; nothing refused
// by the page's Content Security Policy. Screenshots go to page-shots/ in the build folder.
#include "browser.h"
#include "e2e_fixture.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>

namespace {

const char* const kHostile = "<img src=x onerror=alert(1)>";

class ExporterPage : public EndToEnd {
protected:
    std::unique_ptr<ExporterProcess> serve(const QString& usbmuxd) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("ADB_SERVER_SOCKET"), harness.socketSpec());
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), usbmuxd);
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        return std::make_unique<ExporterProcess>(QStringLiteral(DEVICE_INFO_EXE), env,
                                                 QStringList{"--interval", "1"});
    }

    // Each row of a dumped DOM: its cells' text, the last read left out (it moves every round).
    static QStringList rows(const QByteArray& dom) {
        static const QRegularExpression row(QStringLiteral("<tr data-serial=[^>]*>(.*?)</tr>"));
        static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
        QStringList out;
        for (const auto& m : row.globalMatch(QString::fromUtf8(dom))) {
            QStringList cells = m.captured(1).split(QStringLiteral("</td>"), Qt::SkipEmptyParts);
            cells.removeLast(); // the last read
            for (QString& cell : cells)
                cell = cell.replace(QStringLiteral("</span><span"), QStringLiteral(" | <"))
                           .remove(tag)
                           .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
                           .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                           .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
            out << cells.join(QStringLiteral(" / "));
        }
        return out;
    }

    QTemporaryDir home;
};

TEST_F(ExporterPage, EveryDeviceWorstFirstAsTextInPlaceAndWithinItsPolicy) {
    if (Browser::executable().isEmpty())
        GTEST_SKIP() << "Debian's chromium is not installed: the page is not tested in a browser";
    SimulatorProcess* worn = harness.startSimulator("current_phone");
    SimulatorProcess* hot = harness.startSimulator("older_phone");
    SimulatorProcess* locked = harness.startSimulator("unauthorized_phone");
    SimulatorProcess* draining = harness.startSimulator("draining_phone");
    SimulatorProcess* iphone = harness.startIphone(QStringLiteral("current_iphone"));
    ASSERT_TRUE(worn && hot && locked && draining && iphone) << harness.error().toStdString();
    ASSERT_EQ(worn->control(QStringLiteral("set name ") + kHostile), "ok");
    ASSERT_EQ(worn->control("set battery.learned 3000"), "ok"); // 68% of its 4,385 mAh
    ASSERT_EQ(hot->control("set battery.temperature 47.5"), "ok");
    const auto exporter = serve(iphone->usbmuxdAddress());
    ASSERT_EQ(exporter->error(), QString());
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(exporter->port());
    // Every ready device read.
    ASSERT_TRUE(waitUntil([&] {
        const QJsonArray devices =
            QJsonDocument::fromJson(httpGet(exporter->port(), "/devices.json").body).array();
        return devices.size() == 5 && std::count_if(devices.begin(), devices.end(), [](auto d) {
                                          return d.toObject()["battery"].isObject();
                                      }) == 4;
    }));

    const HttpAnswer icon = httpGet(exporter->port(), "/device-info.png");
    EXPECT_TRUE(icon.body.startsWith("\x89PNG") && icon.head.contains("Content-Type: image/png"));

    // The table as the exporter draws it for a browser without JavaScript, and as the script
    // draws it anew from /devices.json, with its polls run in virtual time.
    const QStringList drawn = rows(httpGet(exporter->port(), "/").body);
    const QStringList scripted = rows(Browser::dumpDom(url, 3000));
    // A phone losing charge on mains first, then one that cannot be read, hot, worn.
    const char* const expected[] = {
        "/ 41% | on mains / ⚠ −1.9 W (draining) | 2.5 W charger /",
        "Android · Unauthorized | Unlock the device and allow USB debugging in its prompt; if "
        "no prompt shows, re-plug it.",
        "⚠ 47.5 °C (hot)", "⚠ 68% of design (worn)",
        "Ana's iPhone | iPhone15,2 · 00008110-001A2B3C4D5E801E / iOS · Ready |  / 81% | on "
        "battery / −1.6 W |  / 86% of design | 212 cycles / 29.5 °C |  / 61.4 GB free | of "
        "111.6 GB"};
    ASSERT_EQ(drawn.size(), 5) << drawn.join(u'\n').toStdString();
    EXPECT_EQ(scripted, drawn) << "with and without JavaScript\n"
                               << scripted.join(u'\n').toStdString();
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(drawn[i].contains(QString::fromUtf8(expected[i])))
            << i << ": " << drawn[i].toStdString();
    EXPECT_EQ(drawn[4], QString::fromUtf8(expected[4]));
    EXPECT_TRUE(drawn[3].startsWith(QString::fromUtf8(kHostile) + " | lynx · " + worn->serial()))
        << drawn[2].toStdString();

    // Driven: the hostile name is text, no element came of it and no script ran from it; a
    // device that goes leaves at the next poll, with no reload.
    Browser browser;
    ASSERT_EQ(browser.error(), QString());
    ASSERT_TRUE(browser.open(url));
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('img').length").toInt(-1), 0);
    EXPECT_EQ(browser
                  .evaluate(QStringLiteral("[...document.querySelectorAll('tr[data-serial=\"%1\"] "
                                           ".main')][0].textContent")
                                .arg(worn->serial()))
                  .toString(),
              QString::fromUtf8(kHostile));
    // Screenshots, light and dark, at a phone's width and a desktop's.
    const QString shots = QDir::current().filePath("page-shots");
    QDir().mkpath(shots);
    for (const int width : {320, 1280}) {
        for (const bool dark : {false, true}) {
            QFile png(QStringLiteral("%1/devices-%2-%3.png")
                          .arg(shots)
                          .arg(width)
                          .arg(dark ? "dark" : "light"));
            ASSERT_TRUE(png.open(QIODevice::WriteOnly));
            EXPECT_GT(png.write(browser.screenshot(width, dark)), 1000);
        }
    }
    browser.evaluate("window.stayed = true");
    ASSERT_TRUE(harness.disconnect(*hot));
    EXPECT_TRUE(waitUntil(
        [&] {
            return browser.evaluate("document.querySelectorAll('tbody tr').length").toInt() == 4;
        },
        8000));
    EXPECT_TRUE(browser.evaluate("window.stayed === true").toBool()) << "updated in place";
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('img').length").toInt(-1), 0);

    EXPECT_TRUE(browser.problems().isEmpty()) << browser.problems().join(u'\n').toStdString();
    // And the watch on the policy sees a refusal: a style written into the page is one.
    browser.evaluate("document.head.appendChild(document.createElement('style')).textContent = "
                     "'body { color: red }'");
    EXPECT_TRUE(waitUntil(
        [&] { return browser.problems().join(u'\n').contains("Content Security Policy"); }, 3000))
        << browser.problems().join(u'\n').toStdString();
}

} // namespace
