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
    // What wifiAddress() lets through to host:connect, and what the server names it by.
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9](?:[A-Za-z0-9.-]{0,251}"
                       "[A-Za-z0-9])?)):([0-9]{1,5})$"));
    const QRegularExpressionMatch m = form.match(serial);
    const uint port = m.hasMatch() ? m.captured(3).toUInt() : 0;
    if (port == 0 || port > 65535)
        return QString();
    if (!m.hasCaptured(1))
        return m.captured(2);
    const QHostAddress v6(m.captured(1));
    return v6.protocol() == QAbstractSocket::IPv6Protocol ? m.captured(1) : QString();
}

QString networkSerialAddress(QStringView serial) {
    const QHostAddress address(networkSerialHost(serial));
    return address.isNull() || address.isLoopback() ? QString() : address.toString();
}

QStringList parseAddresses(QStringView ipAddr) {
    static const QRegularExpression inet(
        QStringLiteral("^\\s*inet6?\\s+([0-9A-Fa-f:.]+)(/\\d+)?\\s.*\\bscope\\s+(\\w+)"));
    QStringList out;
    for (const QString& line : outputLines(ipAddr)) {
        const QRegularExpressionMatch m = inet.match(line);
        const QHostAddress address(m.captured(1));
        // The kernel scopes lo's addresses "host" and link-local ones "link": neither is where
        // the device is reached.
        if (!m.hasMatch() || address.isNull() || m.captured(3) == QLatin1String("host") ||
            m.captured(3) == QLatin1String("link"))
            continue;
        if (const QString text = address.toString(); !out.contains(text))
            out << text;
    }
    return out;
}

} // namespace adb
