// Parsers for what Android devices print of their screen and network address, and for the
// serials of devices attached over the network. Pure, as every parser of device output.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace adb {

// "wm size": the override size over the physical one; an invalid size when neither reads.
QSize parseWmSize(QStringView text);

// "dumpsys window" on devices before "wm size" (Android 4.3): the panel's size, or the
// override where one is set; an invalid size when neither reads.
QSize parseDumpsysWindowSize(QStringView text);

// The screen command's whole output: "wm size", else "dumpsys window".
QSize parseScreen(QStringView output);

// The first non-loopback IPv4 address in "ip -f inet addr show", else a "src" in "ip route".
QString parseIpv4Address(QStringView ipAddr, QStringView ipRoute);

// The host part of a "HOST:PORT" serial, as host:connect names the transport it makes (an IPv4
// address, an IPv6 one in brackets, given here without them, or a name), else empty.
QString networkSerialHost(QStringView serial);

// The address a network serial names, where its host is an address and not a loopback one (a
// forwarded port, not the device's address); else empty.
QString networkSerialAddress(QStringView serial);

// The device's own addresses in "ip addr show", IPv4 and IPv6 as QHostAddress writes them, but
// for those of scope host (loopback) or link.
QStringList parseAddresses(QStringView ipAddr);

} // namespace adb
