// The thin layer over libimobiledevice: one read of an iPhone or iPad through usbmuxd and
// lockdownd. It blocks, so the link calls it off the window's thread; it never throws.
#pragma once

#include "device_link/ios/ios_values.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <mutex>
#include <string>

using plist_t = void*;
struct idevice_private;

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

// One device as usbmuxd knows it, kept from read to read by the link that follows it.
class DeviceHandle {
public:
    explicit DeviceHandle(std::string udid);
    ~DeviceHandle();
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

private:
    friend void readDevice(DeviceHandle&, const std::function<void(Reading)>&);
    std::string m_udid;
    std::mutex m_mutex;
    idevice_private* m_device = nullptr;
};

// Connects to the device through usbmuxd, opens a lockdownd session (pairing where usbmuxd
// keeps no record) and reads each domain whole, one round trip a domain, with the battery's
// registry alongside. DELIVER gets the reading as soon as it is complete, before the session
// is closed.
void readDevice(DeviceHandle& handle, const std::function<void(Reading)>& deliver);

// A plist as Qt values, as fromPlistXml gives them.
QVariant toVariant(plist_t node);

} // namespace ios
