// A device link for one kind of device (Android through adb, Apple through usbmuxd), as the
// link that combines the kinds sees it: besides the queries and events, where it stands in
// words and whether it shows a device.
#pragma once

#include "device_link/pelorin.h"

class KindLink : public Pelorin {
    Q_OBJECT
public:
    using Pelorin::Pelorin;

    // One or two sentences on where the link stands; statusChanged follows every change.
    virtual QString statusText() const = 0;
    // Whether code 0 was raised for a device that is still there.
    virtual bool hasDevice() const = 0;
    // Follow only this device (an adb serial, an Apple UDID); empty: the first ready one. FROM
    // says where the choice came from ("ANDROID_SERIAL", "--serial"), for the status text.
    virtual void setWantedSerial(const QString& serial, const QString& from) = 0;

signals:
    void statusChanged(const QString& text);
};
