#include "desktop/battery_history.h"

#include "desktop/desktop_integration.h"
#include "desktop/history_window.h"
#include "device_link/combined_link.h"
#include "history/history_recorder.h"
#include "history/history_writer.h"

#include <QAction>
#include <QWidget>

#include <cstdio>
#include <memory>
#include <optional>

namespace desktop {
namespace {

void say(const QString& text) {
    std::fprintf(stderr, "device-info: %s\n", qUtf8Printable(text));
}

// The device shown, as the links list it; none while none is.
std::optional<AttachedDevice> shownDevice(const CombinedLink& link) {
    const QString serial = link.followedSerial();
    for (const AttachedDevice& d : link.attachedDevices()) {
        if (d.serial == serial)
            return d;
    }
    return std::nullopt;
}

} // namespace

void installHistory(QWidget& window, CombinedLink& link, history::Writer& writer,
                    history::Recorder& recorder, const QString& path) {
    QObject::connect(&link, &KindLink::detailsChanged, &writer,
                     [&link, &writer, &recorder](const DeviceDetails& details) {
                         const std::optional<AttachedDevice> shown = shownDevice(link);
                         if (!shown)
                             return;
                         if (const auto record =
                                 recorder.offer(shown->serial, shown->kind, shown->name, details))
                             writer.write(*record);
                     });
    // A device that goes comes back as a new connection.
    QObject::connect(&link, &Pelorin::ConnectionEvent, &writer, [&recorder](qint32 code) {
        if (code == Pelorin::EventRemoved || code == Pelorin::EventOffline ||
            code == Pelorin::EventServerLost)
            recorder.newConnection();
    });

    // Said once, and kept beside the link's own words in the light's tooltip.
    auto notices = std::make_shared<QStringList>();
    const auto showStatus = [&window, &link, notices] {
        showLinkStatus(window, (QStringList{link.statusText()} + *notices).join(u' '));
    };
    QObject::connect(&writer, &history::Writer::notice, &window,
                     [notices, showStatus](const QString& text) {
                         say(text);
                         notices->append(text);
                         showStatus();
                     });
    QObject::connect(&link, &KindLink::statusChanged, &window, showStatus);

    auto* open = new QAction(QObject::tr("Battery history…"), &window);
    QObject::connect(open, &QAction::triggered, &window, [&window, &link, path] {
        const AttachedDevice shown = shownDevice(link).value_or(AttachedDevice{});
        auto* view = new desktop::HistoryWindow(path, shown.serial, shown.name, &window);
        view->setAttribute(Qt::WA_DeleteOnClose);
        view->show();
    });
    window.addAction(open);
}

} // namespace desktop
