#include "device_link/ios/ios_status.h"

#include "device_link/device_facts.h"

#include <algorithm>

namespace ios {

QString stateWord(ReadError error) {
    switch (error) {
    case ReadError::None:
        return QString();
    case ReadError::TrustPending:
        return QStringLiteral("waiting for Trust");
    case ReadError::Locked:
        return QStringLiteral("locked");
    case ReadError::Denied:
        return QStringLiteral("not trusted");
    case ReadError::InvalidHostId:
        return QStringLiteral("no longer trusted");
    case ReadError::Ssl:
        return QStringLiteral("pairing record broken");
    case ReadError::NoDevice:
    case ReadError::Other:
        break;
    }
    return QStringLiteral("not answering");
}

QString remedy(const AttachedDevice& d) {
    switch (d.error) {
    case ReadError::TrustPending:
        return QStringLiteral("It asks whether to trust this computer: unlock it and tap "
                              "Trust; Device Info goes on by itself.");
    case ReadError::Locked:
        return QStringLiteral("It is locked: unlock it with its passcode, and tap Trust if it "
                              "asks.");
    case ReadError::Denied:
        return QStringLiteral("It was told not to trust this computer: unplug it, plug it in "
                              "again and tap Trust.");
    case ReadError::InvalidHostId:
        return QStringLiteral("It no longer trusts this computer: unplug it, plug it in again "
                              "and tap Trust.");
    case ReadError::Ssl:
        return QStringLiteral("Its pairing record is broken (an SSL error): unplug it, plug it "
                              "in again and tap Trust.");
    case ReadError::NoDevice:
    case ReadError::Other:
    case ReadError::None:
        break;
    }
    return d.detail.isEmpty() ? QStringLiteral("It does not answer; trying again.")
                              : QStringLiteral("It does not answer (%1); trying again.")
                                    .arg(device::printable(d.detail, 80));
}

QString statusText(const LinkState& s) {
    if (s.aside)
        return QStringLiteral("%1 was chosen (%2): iPhones and iPads are ignored.")
            .arg(device::printable(s.wanted), device::printable(s.wantedFrom));
    if (!s.followed.isEmpty()) {
        const QString name = s.followedName.isEmpty()
                                 ? device::printable(s.followed)
                                 : QStringLiteral("%1 (%2)").arg(device::printable(s.followedName),
                                                                 device::printable(s.followed));
        QString text =
            QStringLiteral("%1 %2 by USB, through usbmuxd.")
                .arg(s.reading ? QStringLiteral("Reading") : QStringLiteral("Connected to"), name);
        if (!s.system.isEmpty() && !s.reading)
            text += u' ' + s.system + u'.';
        return text;
    }
    if (!s.usbmuxdInstalled)
        return QStringLiteral("usbmuxd is not installed, so no iPhone or iPad can be seen. "
                              "Install it with \"sudo apt install usbmuxd\".");
    auto unusable = s.devices.end();
    if (!s.wanted.isEmpty()) {
        unusable = std::find_if(s.devices.begin(), s.devices.end(),
                                [&s](const AttachedDevice& d) { return d.udid == s.wanted; });
        if (unusable == s.devices.end())
            return QStringLiteral("Waiting for %1 (%2) through usbmuxd; other devices are "
                                  "ignored.")
                .arg(device::printable(s.wanted), device::printable(s.wantedFrom));
    } else {
        unusable = std::find_if(s.devices.begin(), s.devices.end(),
                                [](const AttachedDevice& d) { return d.error != ReadError::None; });
    }
    if (unusable == s.devices.end())
        return QStringLiteral("No iPhone or iPad is attached through usbmuxd. Plug one in with "
                              "its cable and unlock it.");
    return QStringLiteral("%1 is attached by USB but cannot be read. %2")
        .arg(device::printable(unusable->udid), remedy(*unusable));
}

} // namespace ios
