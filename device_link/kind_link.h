// A device link for one kind of device (Android through adb, Apple through usbmuxd), as the
// link that combines the kinds sees it: besides the queries and events, where it stands in
// words and whether it shows a device.
#pragma once

#include "device_link/device_details.h"
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
    // What the device shown said beyond the window's fields, from its last reading; empty while
    // none is shown. detailsChanged follows every change.
    DeviceDetails details() const { return m_details; }

signals:
    void statusChanged(const QString& text);
    void detailsChanged(const DeviceDetails& details);

protected:
    void setDetails(const DeviceDetails& details) {
        if (details == m_details)
            return;
        m_details = details;
        emit detailsChanged(m_details);
    }

private:
    DeviceDetails m_details;
};
