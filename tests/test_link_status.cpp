// The link's state in words: what a person reads in the connection panel's tooltip.
#include "device_link/adb/link_status.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

namespace {

using namespace adb;

Device device(const char* serial, const char* state, const char* model = "", bool usb = false) {
    Device d;
    d.serial = QString::fromUtf8(serial);
    d.state = QString::fromUtf8(state);
    d.model = QString::fromUtf8(model);
    d.usb = usb;
    return d;
}

struct Case {
    const char* name;
    LinkState state;
    std::vector<const char*> says; // every one of these, in this order
    const char* neverSays = nullptr;
};

const ServerAddress kLocal{QStringLiteral("localhost"), 5037};
const ServerAddress kRemote{QStringLiteral("otherhost"), 5037};

LinkState up(std::vector<Device> devices, const char* followed = "", const char* wanted = "") {
    LinkState s;
    s.server = kLocal;
    s.phase = ServerPhase::Up;
    s.devices = std::move(devices);
    s.followed = QString::fromUtf8(followed);
    s.wanted = QString::fromUtf8(wanted);
    return s;
}

LinkState phase(ServerPhase p, const ServerAddress& server = kLocal) {
    LinkState s;
    s.server = server;
    s.phase = p;
    return s;
}

class StatusText : public ::testing::TestWithParam<Case> {};

TEST_P(StatusText, SaysWhereThingsStandAndWhatToDo) {
    const QString text = statusText(GetParam().state);
    qsizetype from = 0;
    for (const char* part : GetParam().says) {
        const qsizetype at = text.indexOf(QString::fromUtf8(part), from);
        EXPECT_GE(at, from) << "missing or out of order: " << part
                            << "\nin: " << text.toStdString();
        from = qMax(from, at);
    }
    if (GetParam().neverSays) {
        EXPECT_FALSE(text.contains(QString::fromUtf8(GetParam().neverSays))) << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, StatusText,
    ::testing::Values(
        Case{"looking", phase(ServerPhase::Looking), {"Looking", "localhost:5037"}},
        Case{"starting", phase(ServerPhase::Starting), {"Starting", "localhost:5037"}},
        Case{"no adb", phase(ServerPhase::NoAdb), {"not installed", "sudo apt install adb"}},
        Case{"lost", phase(ServerPhase::Lost), {"Lost", "localhost:5037", "reconnecting"}},
        Case{"remote down",
             phase(ServerPhase::Unreachable, kRemote),
             {"otherhost:5037", "does not answer", "that computer"},
             "adb start-server"},
        Case{"ipv6 server",
             phase(ServerPhase::Unreachable, {QStringLiteral("::1"), 5037}),
             {"[::1]:5037"}},
        Case{"nothing attached", up({}), {"No device", "localhost:5037", "USB debugging"}},
        Case{"unauthorized",
             up({device("R58M", "unauthorized", "", true)}),
             {"R58M", "\"unauthorized\"", "localhost:5037", "allow USB debugging"}},
        Case{"authorizing", up({device("R58M", "authorizing")}), {"\"authorizing\"", "allow"}},
        Case{"connecting", up({device("R58M", "connecting")}), {"\"connecting\"", "re-plug"}},
        Case{"no permissions",
             up({device("R58M", "no permissions", "", true)}),
             {"\"no permissions\"", "udev rules", "android-sdk-platform-tools-common"}},
        Case{"offline", up({device("R58M", "offline")}), {"\"offline\"", "Re-plug"}},
        Case{"recovery", up({device("R58M", "recovery")}), {"recovery mode", "restart it"}},
        Case{"sideload", up({device("R58M", "sideload")}), {"sideload mode", "restart it"}},
        Case{"rescue", up({device("R58M", "rescue")}), {"rescue mode", "restart it"}},
        Case{"bootloader", up({device("R58M", "bootloader")}), {"bootloader mode"}},
        Case{"host", up({device("R58M", "host")}), {"\"host\"", "another computer"}},
        Case{"unknown state", up({device("R58M", "sleepy")}), {"\"sleepy\"", "Re-plug"}},
        Case{"followed by usb",
             up({device("0123", "device", "Pixel 7a", true)}, "0123"),
             {"Connected to Pixel 7a (0123) by USB", "localhost:5037"},
             "ANDROID_SERIAL"},
        Case{"followed over the network",
             up({device("192.168.1.23:5555", "device", "Pixel 7a")}, "192.168.1.23:5555"),
             {"over Wi-Fi"}},
        // Android 11's Wireless debugging: an mDNS service name, no host:port.
        Case{"wireless debugging",
             up({device("adb-35161FDJH000GW-Xb3yQ1._adb-tls-connect._tcp", "device", "Pixel 7a")},
                "adb-35161FDJH000GW-Xb3yQ1._adb-tls-connect._tcp"),
             {"Connected to Pixel 7a", "over Wi-Fi"},
             "by USB"},
        // The link over both kinds says how to choose among them.
        Case{"several devices",
             up({device("a", "device"), device("b", "unauthorized")}, "a"),
             {"Connected to a"},
             "ANDROID_SERIAL"},
        Case{"wanted absent",
             up({device("phone2", "device")}, "", "R58M"),
             {"Waiting for R58M", "ANDROID_SERIAL", "localhost:5037"},
             "phone2"},
        Case{"wanted not ready",
             up({device("other", "device"), device("R58M", "offline")}, "", "R58M"),
             {"R58M is \"offline\""}},
        // Chosen in the Device menu: read next, never "is "device"" and a re-plug.
        Case{"wanted ready and about to be read",
             [] {
                 LinkState s = up({device("a", "device"), device("R58M", "device", "Nexus 7")},
                                  "", "R58M");
                 s.system = QStringLiteral("Android 14");
                 return s;
             }(),
             {"Reading Nexus 7 (R58M), through the adb server at localhost:5037."},
             "Android 14"},
        Case{"another kinds device chosen",
             [] {
                 LinkState s = up({device("R58M", "device")}, "", "00008110-001A");
                 s.phase = ServerPhase::Lost;
                 s.aside = true;
                 s.wantedFrom = QStringLiteral("the Device menu");
                 return s;
             }(),
             {"00008110-001A was chosen (the Device menu): devices on the adb server at "
              "localhost:5037 are ignored."}},
        Case{"device text is shown inert",
             up({device("x\x1b[2Jy", "device", "<b>\nPhone")}, "x\x1b[2Jy"),
             {"<b> Phone (x [2Jy)"},
             "\x1b"}),
    [](const ::testing::TestParamInfo<Case>& info) {
        return QString::fromUtf8(info.param.name).replace(u' ', u'_').toStdString();
    });

TEST(StatusTextPrintable, CutsLongDeviceTexts) {
    const QString text = printable(QString(500, u'A'));
    EXPECT_EQ(text.size(), 65);
    EXPECT_TRUE(text.endsWith(u'…'));
}

} // namespace
