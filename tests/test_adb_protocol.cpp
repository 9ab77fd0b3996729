#include "device_link/adb/adb_protocol.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

namespace {

using namespace adb;

TEST(AdbProtocol, EncodesRequestsWithFourHexDigits) {
    EXPECT_EQ(encodeRequest("host:version"), "000chost:version");
    EXPECT_EQ(encodeRequest(QByteArray(0xffff, 'a')).left(4), "ffff");
    EXPECT_TRUE(encodeRequest(QByteArray(0x10000, 'a')).isEmpty());
}

TEST(AdbProtocol, LengthPrefixedPayloadArrivesInAnyPieces) {
    const QByteArray whole = "0015emulator-5554\tdevice\n0000";
    // However the first frame is cut, nothing completes before all 25 bytes are there.
    for (qsizetype cut = 0; cut < 25; ++cut)
        EXPECT_EQ(decodeLengthPrefixed(whole.left(cut)).status, Decode::NeedMore) << cut;
    const Payload first = decodeLengthPrefixed(whole);
    ASSERT_EQ(first.status, Decode::Complete);
    EXPECT_EQ(first.consumed, 25);
    EXPECT_EQ(first.data, "emulator-5554\tdevice\n");
    const Payload empty = decodeLengthPrefixed(QByteArrayView(whole).sliced(25));
    EXPECT_EQ(empty.status, Decode::Complete);
    EXPECT_EQ(empty.consumed, 4);
    EXPECT_TRUE(empty.data.isEmpty());
}

TEST(AdbProtocol, LengthThatIsNotHexIsMalformed) {
    for (const char* bad : {"00g1xx", "-001x", " 001x", "0x01a", "\xff\xff\xff\xff"})
        EXPECT_EQ(decodeLengthPrefixed(bad).status, Decode::Malformed) << bad;
    EXPECT_EQ(decodeLengthPrefixed("000Ahello12345").data, "hello12345");
}

TEST(AdbProtocol, StatusReplies) {
    const Status okay = decodeStatus("OKAY0004rest");
    EXPECT_EQ(okay.status, Decode::Complete);
    EXPECT_TRUE(okay.okay);
    EXPECT_EQ(okay.consumed, 4);

    const Status fail = decodeStatus("FAIL001adevice 'nothere' not found");
    EXPECT_EQ(fail.status, Decode::Complete);
    EXPECT_FALSE(fail.okay);
    EXPECT_EQ(fail.failure, "device 'nothere' not found");
    EXPECT_EQ(fail.consumed, 34);

    EXPECT_EQ(decodeStatus("FAIL001adevice").status, Decode::NeedMore);
    EXPECT_EQ(decodeStatus("OKA").status, Decode::NeedMore);
    EXPECT_EQ(decodeStatus("HTTP/1.1 400").status, Decode::Malformed);
    EXPECT_EQ(decodeStatus("FAILzzzz").status, Decode::Malformed);
}

struct SpecCase {
    const char* spec;
    std::optional<ServerAddress> expected;
};

class SocketSpecs : public ::testing::TestWithParam<SpecCase> {};

TEST_P(SocketSpecs, Parse) {
    EXPECT_EQ(parseSocketSpec(GetParam().spec), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SocketSpecs,
    ::testing::Values(SpecCase{"tcp:localhost:5037", ServerAddress{"localhost", 5037}},
                      SpecCase{"tcp:5038", ServerAddress{"localhost", 5038}},
                      SpecCase{"tcp:192.168.0.2:6000", ServerAddress{"192.168.0.2", 6000}},
                      SpecCase{"tcp:[::1]:5037", ServerAddress{"::1", 5037}},
                      SpecCase{"tcp:host:0", std::nullopt},
                      SpecCase{"tcp:host:70000", std::nullopt}, SpecCase{"tcp::5037", std::nullopt},
                      SpecCase{"localabstract:adb", std::nullopt}, SpecCase{"", std::nullopt}));

TEST(AdbProtocol, ServerFromEnvironmentAsAdbClientsFindIt) {
    QProcessEnvironment env;
    EXPECT_EQ(serverAddressFromEnvironment(env), (ServerAddress{"localhost", 5037}));
    env.insert("ANDROID_ADB_SERVER_PORT", "6037");
    EXPECT_EQ(serverAddressFromEnvironment(env), (ServerAddress{"localhost", 6037}));
    env.insert("ANDROID_ADB_SERVER_ADDRESS", "10.0.2.2");
    EXPECT_EQ(serverAddressFromEnvironment(env), (ServerAddress{"10.0.2.2", 6037}));
    env.insert("ADB_SERVER_SOCKET", "tcp:127.0.0.1:7037");
    EXPECT_EQ(serverAddressFromEnvironment(env), (ServerAddress{"127.0.0.1", 7037}));
    env.insert("ADB_SERVER_SOCKET", "garbage");
    env.insert("ANDROID_ADB_SERVER_PORT", "not a port");
    EXPECT_EQ(serverAddressFromEnvironment(env), (ServerAddress{"10.0.2.2", 5037}));
}

TEST(AdbProtocol, LocalHosts) {
    EXPECT_TRUE(isLocalHost("localhost"));
    EXPECT_TRUE(isLocalHost("127.0.0.1"));
    EXPECT_TRUE(isLocalHost("::1"));
    EXPECT_FALSE(isLocalHost("10.0.2.2"));
}

} // namespace
