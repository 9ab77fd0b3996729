// Where the device link stands, in words for a person: which adb server it watches, which
// device it follows, or why none is usable and what to do about it. Pure: the link gathers the
// state, this turns it into one or two short sentences.
#pragma once

#include "device_link/adb/adb_parsers.h"
#include "device_link/adb/adb_protocol.h"
#include "device_link/device_facts.h"

#include <QString>

#include <vector>

namespace adb {

enum class ServerPhase {
    Looking,     // the first connection is under way
    Starting,    // "adb start-server" is running
    NoAdb,       // nothing answers and adb is not installed
    Unreachable, // nothing answers; retrying
    Refused,     // the server answers but will not track devices
    Lost,        // it was up and went; reconnecting
    Up,
};

struct LinkState {
    ServerAddress server;
    ServerPhase phase = ServerPhase::Looking;
    QString serverMessage; // the server's own words when it refused
    std::vector<Device> devices;
    QString followed;     // the transport of the device the window shows, or the one being read
    QString followedId;   // that device's serial number, where it differs from the transport's
    QString wifiAlso;     // where it is also connected over Wi-Fi, while it is read over USB
    bool reading = false; // the followed device's first answers are not in yet
    QString system;       // what the followed device runs: "Android 14, model lynx"
    QString wanted;       // follow this device only
    QString wantedFrom = QStringLiteral("ANDROID_SERIAL"); // where that choice came from
    bool aside = false;                                    // the device wanted is another kind's
};

QString statusText(const LinkState& state);

// What to do about a device in adb's STATE ("unauthorized", "no permissions", ...): the sentence
// the status gives.
QString remedy(const QString& state);

using device::printable;

} // namespace adb
