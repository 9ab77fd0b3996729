// The thin layer over libimobiledevice: one read of an iPhone or iPad through usbmuxd and
// lockdownd. It blocks, so the link calls it off the window's thread; it never throws.
#pragma once

#include "device_link/background_work.h"
#include "device_link/ios/ios_values.h"

#include <QString>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

using plist_t = void*;
struct idevice_private;
struct lockdownd_client_private;
struct diagnostics_relay_client_private;

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

// Whether a device can be read, and its name, which it gives even before it trusts this
// computer.
struct Probe {
    ReadError error = ReadError::None;
    QString name;
};

// One device as usbmuxd knows it, kept from read to read by the link that follows it, with the
// lockdownd session and diagnostics relay of its last read still open: a session's TLS
// handshake costs a good part of a read.
class DeviceHandle {
public:
    explicit DeviceHandle(std::string udid);
    // Closes what it keeps on a thread of its own: closing waits for the device.
    ~DeviceHandle();
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

private:
    friend void readDevice(DeviceHandle&, const std::function<void(Reading)>&);
    friend void readBattery(DeviceHandle&, const std::function<void(Reading)>&);
    friend Probe probe(DeviceHandle&);
    void dropSession();

    std::string m_udid;
    std::unique_ptr<device::BackgroundWork> m_open;
    std::mutex m_mutex;
    idevice_private* m_device = nullptr;
    lockdownd_client_private* m_client = nullptr;        // in a session
    diagnostics_relay_client_private* m_relay = nullptr; // where the device has one
};

// Reads each domain whole, one round trip a domain, with the battery's registry alongside, on
// the session the handle keeps; where it keeps none, or that one no longer answers, connects
// through usbmuxd and opens one (pairing where usbmuxd keeps no record). DELIVER gets the
// reading as soon as it is complete.
void readDevice(DeviceHandle& handle, const std::function<void(Reading)>& deliver);

// The battery's domain and registry entry alone, on the session the handle keeps; where it
// keeps none, a whole read as readDevice makes it, of which the battery is part.
void readBattery(DeviceHandle& handle, const std::function<void(Reading)>& deliver);

// What lockdownd gives outside a session, so without a handshake or a Trust prompt: the
// general domain's public values (DeviceName, DeviceClass, ProductType, ProductVersion, ...);
// empty when the device does not answer.
QVariantMap publicValues(const std::string& udid);

// Asks the device of HANDLE where the handle keeps no session, and keeps the session it opens
// for the reads that follow: a device it keeps one with, or one being read now, is ready and
// asked nothing (no handshake, no Trust prompt).
Probe probe(DeviceHandle& handle);

// A plist as Qt values, as fromPlistXml gives them.
QVariant toVariant(plist_t node);

} // namespace ios
