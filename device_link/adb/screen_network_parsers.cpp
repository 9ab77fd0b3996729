#include "device_link/adb/screen_network_parsers.h"

#include "device_link/adb/parse_text.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace adb {

namespace {

bool isIpv4(const QString& text) {
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    if (!dotted.match(text).hasMatch())
        return false;
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol;
}

bool usableIpv4(const QString& text) {
    return isIpv4(text) && !QHostAddress(text).isLoopback();
}

} // namespace

QSize parseWmSize(QStringView text) {
    static const QRegularExpression size(
        QStringLiteral("^\\s*(Physical|Override) size:\\s*(\\d{1,6})x(\\d{1,6})\\s*$"));
    QSize physical;
    QSize override;
    for (const QString& line : outputLines(text)) {
        const QRegularExpressionMatch m = size.match(line);
        if (!m.hasMatch())
            continue;
        const QSize found(m.captured(2).toInt(), m.captured(3).toInt());
        (m.captured(1) == QLatin1String("Override") ? override : physical) = found;
    }
    return override.isValid() && !override.isEmpty() ? override : physical;
}

QSize parseDumpsysWindowSize(QStringView text) {
    // Android 4.0 to 4.2: "init=800x1280 base=800x1280 cur=1280x800 ..." (init is the panel,
    // base an override); 2.3 and 3.x: "DisplayWidth=480 DisplayHeight=800".
    static const QRegularExpression init(QStringLiteral("\\binit=(\\d{1,6})x(\\d{1,6})\\b"));
    static const QRegularExpression base(QStringLiteral("\\bbase=(\\d{1,6})x(\\d{1,6})\\b"));
    static const QRegularExpression older(
        QStringLiteral("\\bDisplayWidth=(\\d{1,6})\\s+DisplayHeight=(\\d{1,6})\\b"));
    const auto size = [](const QRegularExpressionMatch& m) {
        return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
    };
    QSize physical;
    QSize override;
    for (const QString& line : outputLines(text)) {
        if (!physical.isValid()) {
            physical = size(init.match(line));
            if (physical.isValid())
                override = size(base.match(line));
        }
        if (!physical.isValid())
            physical = size(older.match(line));
    }
    return override.isValid() && !override.isEmpty() ? override : physical;
}

QSize parseScreen(QStringView output) {
    const QStringList parts = splitSections(output, 2);
    const QSize size = parseWmSize(parts[0]);
    return size.isValid() ? size : parseDumpsysWindowSize(parts[1]);
}

QString parseIpv4Address(QStringView ipAddr, QStringView ipRoute) {
    static const QRegularExpression inet(QStringLiteral("^\\s*inet\\s+([0-9.]+)(/\\d+)?\\s"));
    for (const QString& line : outputLines(ipAddr)) {
        const QRegularExpressionMatch m = inet.match(line + u' ');
        if (m.hasMatch() && usableIpv4(m.captured(1)))
            return m.captured(1);
    }
    static const QRegularExpression src(QStringLiteral("\\bsrc\\s+([0-9.]+)"));
    for (const QString& line : outputLines(ipRoute)) {
        const QRegularExpressionMatch m = src.match(line);
        if (m.hasMatch() && usableIpv4(m.captured(1)))
            return m.captured(1);
    }
    return QString();
}

QString networkSerialHost(QStringView serial) {
    const qsizetype colon = serial.lastIndexOf(u':');
    if (colon <= 0)
        return QString();
    bool ok = false;
    const uint port = serial.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return QString();
    const QString host = serial.left(colon).toString();
    return isIpv4(host) ? host : QString();
}

} // namespace adb
