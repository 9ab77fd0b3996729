// A device link for one kind of device (Android through adb, Apple through usbmuxd), as the
// link that combines the kinds sees it: besides the queries and events, where it stands in
// words and whether it shows a device.
#pragma once

#include "device_link/device_details.h"
#include "device_link/device_kind.h"
#include "device_link/device_reading.h"
#include "device_link/pelorin.h"

#include <QSet>

#include <vector>

// A device a link sees, ready to be shown or not, as the window's Device menu lists it.
struct AttachedDevice {
    QString serial; // an adb serial or an Apple UDID
    DeviceKind kind;
    QString label; // what a person calls it: "Android", "iPhone", "iPad"
    QString name;  // where the link knows it
    QString state; // why it cannot be shown now ("unauthorized", "waiting for Trust"); empty: ready
    bool operator==(const AttachedDevice&) const = default;
};

class KindLink : public Pelorin {
    Q_OBJECT
public:
    using Pelorin::Pelorin;

    // Every device the link sees, in a stable order, from what it watches anyway: listing them
    // asks no device anything. devicesChanged follows every change.
    virtual std::vector<AttachedDevice> attachedDevices() const = 0;
    // The device shown or being read; empty when none.
    virtual QString followedSerial() const = 0;

    // One or two sentences on where the link stands; statusChanged follows every change.
    virtual QString statusText() const = 0;
    // Whether code 0 was raised for a device that is still there.
    virtual bool hasDevice() const = 0;
    // Follow only this device (an adb serial, an Apple UDID); empty: the first ready one. FROM
    // says where the choice came from ("ANDROID_SERIAL", "--serial"), for the status text. A
    // device followed that is not the one wanted goes (its gone code is raised) at once.
    virtual void setWantedSerial(const QString& serial, const QString& from) = 0;
    // Another kind's device SERIAL was chosen (FROM says where): follow none of this kind's,
    // let a followed one go, and say so without a word on standard error.
    virtual void standAside(const QString& serial, const QString& from) = 0;
    // SERIALS are devices other kinds show: where this kind sees one of them too (UPower's
    // idevice backend lists an iPhone by its UDID), it is theirs, and this kind neither lists
    // nor shows it.
    virtual void leaveToOthers(const QSet<QString>& serials) { Q_UNUSED(serials); }
    // What the device shown said beyond the window's fields, from its last reading; empty while
    // none is shown. detailsChanged follows every change.
    DeviceDetails details() const { return m_details; }
    // Reads the battery of the device shown, and only its battery, off the window's thread:
    // batteryRead follows with its power status, mains status and battery facts, or an error.
    // Nothing starts while no device is shown or a read of it is still under way.
    virtual void readBattery() {}

signals:
    void batteryRead(const DeviceReading& battery);
    void statusChanged(const QString& text);
    void detailsChanged(const DeviceDetails& details);
    void devicesChanged();

protected:
    // Lets the device followed go at once, raising CODE where it was shown: a device that went
    // while it was being read was never shown.
    void letFollowedGo(qint32 code) {
        const bool shown = hasDevice();
        forgetFollowed();
        if (shown)
            emit ConnectionEvent(code, QString());
    }
    // Whether a device followed is one that is no longer wanted.
    static bool unwanted(const QString& followed, const QString& wanted) {
        return !followed.isEmpty() && !wanted.isEmpty() && followed != wanted;
    }
    // Stops following, and says so in the status, for letFollowedGo.
    virtual void forgetFollowed() {}

    void setDetails(const DeviceDetails& details) {
        if (details == m_details)
            return;
        m_details = details;
        emit detailsChanged(m_details);
    }

private:
    DeviceDetails m_details;
};
