// Reads a device-output fixture exactly as stored: line ends and final newlines as devices
// wrote them.
#pragma once

#include "qt_printers.h"
#include <QFile>
#include <QString>

inline QString fixture(const char* name) {
    QFile file(QStringLiteral(DEVICE_INFO_SOURCE_DIR "/tests/fixtures/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return QString::fromUtf8(file.readAll());
}
