// iPhones and iPads read once, as a report reads them: the devices usbmuxd lists and whether
// each can be read, and one device's values from the same session a refresh uses. Blocking,
// each within its deadline; never on the window's thread.
#pragma once

#include "device_link/device_reading.h"
#include "device_link/ios/lockdown_session.h"

#include <QString>

#include <memory>
#include <vector>

namespace ios {

struct Listed {
    QString udid;
    ReadError state = ReadError::None; // None: it can be read
    QString name;                      // empty where it gives none
    // The session the listing found open or opened, for the reads that follow; none where it
    // cannot be read.
    std::shared_ptr<DeviceHandle> session;
};

// The UDIDs usbmuxd lists by USB, in its order; no device is asked anything.
std::vector<QString> attachedUdids();

// The devices usbmuxd lists by USB, in its order, each asked for its name and whether a session
// can start (pairing where usbmuxd keeps no record), side by side within DEADLINE_MS. KNOWN says
// what the caller knows already: a device with a session there is asked only where that session
// has closed; one without is listed as given and asked nothing (a "Don't Trust" stands until
// the device is attached anew, or its Trust prompt would show again and again).
std::vector<Listed> listDevices(int deadlineMs, const std::vector<Listed>& known = {});

// The window's values from one read's domains.
DeviceReading readingFrom(const QString& udid, const Domains& domains);

// Reads UDID once within DEADLINE_MS, on SESSION's lockdownd session where one is given and
// still open (a TLS handshake saved), else on a new one.
DeviceReading readOnce(const QString& udid, int deadlineMs,
                       std::shared_ptr<DeviceHandle> session = nullptr);

} // namespace ios
