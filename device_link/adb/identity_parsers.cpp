#include "device_link/adb/identity_parsers.h"

#include "device_link/adb/parse_text.h"
#include "device_link/device_facts.h"

#include <QRegularExpression>

namespace adb {

std::vector<Device> parseDeviceList(QStringView text) {
    std::vector<Device> devices;
    for (const QString& line : outputLines(text)) {
        // "SERIAL\tSTATE", or with -l "SERIAL   STATE product:... model:... transport_id:N".
        const QStringList fields =
            line.split(QRegularExpression(QStringLiteral("[\\t ]+")), Qt::SkipEmptyParts);
        if (fields.size() < 2 || fields[0].startsWith(u'*') || fields[0] == QLatin1String("List"))
            continue;
        Device device;
        device.serial = fields[0];
        device.state = fields[1];
        // "no permissions (...); see [...]" and "no device" are states of more than one word.
        if (device.state == QLatin1String("no") && fields.size() > 2)
            device.state += u' ' + fields[2];
        for (const QString& field : fields.mid(2)) {
            if (field.startsWith(QLatin1String("model:")))
                device.model = field.mid(6).replace(u'_', u' ');
            else if (field.startsWith(QLatin1String("usb:")))
                device.usb = true;
        }
        devices.push_back(device);
    }
    return devices;
}

qint32 processorCode(QStringView abi, QStringView machine) {
    const qint32 code = device::processorFamilyCode(abi);
    return code != 0 ? code : device::processorFamilyCode(machine);
}

QString parseDeviceName(QStringView settingsOutput, QStringView modelOutput) {
    for (QStringView output : {settingsOutput, modelOutput}) {
        const QStringList lines = outputLines(output);
        if (lines.isEmpty())
            continue;
        // The name is kept exactly as the device holds it, blanks included.
        const QString name = lines.first();
        if (name.trimmed().isEmpty() || name.trimmed() == QLatin1String("null"))
            continue;
        return name;
    }
    return QString();
}

} // namespace adb
