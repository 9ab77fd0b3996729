// What a device said beyond what the window's fields show: a few lines for each panel, shown on
// hover and copied with the window's report. Plain text; device strings in it are as the device
// gave them, made printable.
#pragma once

#include <QMetaType>
#include <QStringList>

struct DeviceDetails {
    QStringList processor;
    QStringList power;
    QStringList memory;
    QStringList storage;
    QStringList screen;

    bool isEmpty() const {
        return processor.isEmpty() && power.isEmpty() && memory.isEmpty() && storage.isEmpty() &&
               screen.isEmpty();
    }
    bool operator==(const DeviceDetails&) const = default;
};

Q_DECLARE_METATYPE(DeviceDetails)
