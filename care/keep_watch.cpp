#include "care/keep_watch.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace care {
namespace {

// An argument of an Exec key, quoted where desktop entries ask it to be,
// then escaped as every string value is.
QString execArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (std::none_of(argument.begin(), argument.end(),
                     [](QChar c) { return reserved.contains(c); }))
        return QString(argument).replace(u'%', QStringLiteral("%%"));
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    QString out = u'"' + quoted + u'"';
    return out.replace(u'\\', QStringLiteral("\\\\"));
}

} // namespace

QString autostartPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/org.deviceinfo.DeviceInfo.Care.desktop");
}

QString autostartEntry(const QString& program) {
    const QString found = QStandardPaths::findExecutable(QStringLiteral("device-info"));
    const bool onPath = !found.isEmpty() && QFileInfo(found).canonicalFilePath() ==
                                                QFileInfo(program).canonicalFilePath();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Device Info battery care\n"
                          "Comment=Notifies when an attached device's battery needs care\n"
                          "Exec=%1 --care\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-Phase=Applications\n")
        .arg(onPath ? QStringLiteral("device-info") : execArgument(program),
             QStringLiteral(DEVICE_INFO_APP_ID));
}

KeepWatch::KeepWatch(const QDBusConnection& bus, QString autostart, QString program,
                     QObject* parent)
    : QObject(parent), m_bus(bus), m_autostart(std::move(autostart)),
      m_program(program.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(program)) {
    if (!m_bus.isConnected())
        return;
    auto* watcher =
        new QDBusServiceWatcher(kCareName, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                emit runningChanged(!owner.isEmpty());
            });
}

bool KeepWatch::keeps() const {
    return QFileInfo::exists(m_autostart);
}

bool KeepWatch::running() const {
    return m_bus.isConnected() && m_bus.interface()->isServiceRegistered(kCareName).value();
}

QString KeepWatch::setKeeps(bool keeps) {
    if (!keeps) {
        if (QFileInfo::exists(m_autostart) && !QFile::remove(m_autostart))
            return tr("The autostart entry %1 cannot be removed.").arg(m_autostart);
        if (running())
            m_bus.asyncCall(QDBusMessage::createMethodCall(kCareName, kCarePath, kCareInterface,
                                                           QStringLiteral("Quit")));
        return {};
    }
    QDir().mkpath(QFileInfo(m_autostart).path());
    QSaveFile file(m_autostart);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(autostartEntry(m_program).toUtf8()) >= 0 && file.commit();
    if (!written)
        return tr("The autostart entry %1 cannot be written (%2).")
            .arg(m_autostart, file.errorString());
    if (!running() && !QProcess::startDetached(m_program, {QStringLiteral("--care")}))
        return tr("The watcher cannot be started.");
    return {};
}

} // namespace care
