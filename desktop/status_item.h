// The watcher's item in the panel: a StatusNotifierItem (org.kde.StatusNotifierItem, as KDE
// Plasma, Xfce, Cinnamon, MATE, Budgie, Waybar and GNOME's AppIndicator extension show them)
// with its menu through com.canonical.dbusmenu, on the session bus through Qt D-Bus alone, so
// that a process with no display shows it. It registers with the panel's StatusNotifierWatcher,
// and again whenever a watcher comes: a panel that starts late, or restarts, gets it at once. A
// property's change is sent only when it changed.
#pragma once

#include "care/glance.h"
#include "layout/battery_icon.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace desktop {

// The icon of the device that needs a look; none where no device has a battery read.
std::optional<layout::BatteryIcon> iconOf(const care::Glance& glance);

class StatusItem : public QObject {
    Q_OBJECT
public:
    struct Actions {
        // The window on SERIAL; TOKEN, where the panel gave one, lets it come to the front.
        std::function<void(const QString& serial, const QString& token)> showDevice;
        std::function<void(const QString& token)> showSettings; // Notifications…
        std::function<void()> quit;
        std::function<void(const QString&)> say;
    };
    // Where no panel has taken the item NO_PANEL_MS after it was made, that is said once.
    StatusItem(const QDBusConnection& bus, Actions actions, int noPanelMs = 10000,
               QObject* parent = nullptr);
    ~StatusItem() override;
    Q_DISABLE_COPY_MOVE(StatusItem)

    // Shows GLANCE: the icon, tooltip and menu rows, each sent where it changed.
    void show(const care::Glance& glance);
    // Whether a panel's watcher holds the item now.
    bool registered() const { return m_registered; }
    const QString& serviceName() const { return m_service; }

signals:
    void registeredChanged(bool registered);

private:
    class ItemObject;
    class MenuObject;
    struct Row {
        int id;
        QString serial;
        QString label;
        bool operator==(const Row&) const = default;
    };

    void registerWithWatcher();
    void setRegistered(bool registered);
    void emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QVariantList& arguments = {});
    void clicked(int id);
    QString takeToken();

    QDBusConnection m_bus;
    Actions m_actions;
    QString m_service;
    std::unique_ptr<ItemObject> m_item;
    std::unique_ptr<MenuObject> m_menu;
    bool m_registered = false;
    bool m_saidNoPanel = false;
    QTimer m_noPanel;
    QTimer m_retry;
    int m_retryMs = 0;
    quint64 m_registering = 0; // the latest registration asked for: older answers are dropped

    // What is shown.
    care::Glance m_glance;
    bool m_shownOnce = false;
    std::optional<layout::BatteryIcon> m_icon;
    QString m_tooltip;
    std::vector<Row> m_rows;
    uint m_revision = 1;
    QHash<QString, int> m_ids; // each device's menu row id, kept while the item lives
    int m_nextId = 100;
    QString m_token; // an activation token the panel gave, for the next click
};

} // namespace desktop
