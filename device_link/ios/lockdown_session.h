// The thin layer over libimobiledevice: one read of an iPhone or iPad through usbmuxd and
// lockdownd. It blocks, so the link calls it off the window's thread; it never throws.
#pragma once

#include "device_link/ios/ios_values.h"

#include <QString>
#include <QVariant>

#include <string>

using plist_t = void*;

namespace ios {

// What went wrong, in the terms a person can act on.
enum class ReadError {
    None,
    NoDevice,      // usbmuxd does not list it (any more)
    TrustPending,  // the Trust prompt shows on the device
    Locked,        // locked with a passcode: pairing needs it unlocked
    Denied,        // the user tapped Don't Trust
    InvalidHostId, // the device no longer trusts this computer
    Ssl,           // the pairing record cannot make the encrypted session
    Other,         // anything else the library reports
};

struct Reading {
    ReadError error = ReadError::None;
    QString detail; // the library's error code where it reported one
    Domains domains;
};

// Connects to UDID through usbmuxd, opens a lockdownd session (pairing where usbmuxd keeps no
// record) and reads each domain whole, one round trip a domain, then closes the session.
Reading readDevice(const std::string& udid);

// A plist as Qt values: dictionaries and arrays nest to a bounded depth and size, data becomes
// bytes, integers stay integers (libplist keeps them unsigned; negative ones come back signed).
QVariant toVariant(plist_t node);

} // namespace ios
