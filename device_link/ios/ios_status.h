// Where the Apple link stands, in words for a person: which device it shows, or why none can be
// shown and what to do about it. Pure: the link gathers the state, this makes the sentences.
#pragma once

#include "device_link/ios/lockdown_session.h"

#include <QString>

#include <vector>

namespace ios {

struct AttachedDevice {
    QString udid;
    ReadError error = ReadError::None; // how its last read ended
    QString detail;
};

struct LinkState {
    bool usbmuxdInstalled = true;
    std::vector<AttachedDevice> devices; // as usbmuxd reports them, in order
    QString followed;                    // the device shown, or the one being read
    QString followedName;
    bool reading = false;
    QString system; // what the followed device runs: "iOS 17.5, model iPhone15,2"
    QString wanted; // follow this UDID only
    QString wantedFrom;
    bool aside = false; // the device wanted is another kind's
};

QString statusText(const LinkState& state);

// How a device that cannot be shown stands, in a few words ("waiting for Trust"); empty for
// one that can.
QString stateWord(ReadError error);

// What to do about a device that could not be read, in a sentence.
QString remedy(const AttachedDevice& device);

} // namespace ios
