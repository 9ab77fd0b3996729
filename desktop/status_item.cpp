#include "desktop/status_item.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QImage>
#include <QtEndian>

#include <algorithm>

// The protocols' own types, as they go over the bus.
namespace desktop::sni {

struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes; // ARGB32, big-endian
};
using IconPixmaps = QList<IconPixmap>;

struct ToolTip {
    QString icon;
    IconPixmaps pixmaps;
    QString title;
    QString text;
};

struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

struct MenuItem {
    int id = 0;
    QVariantMap properties;
};
using MenuItems = QList<MenuItem>;

struct MenuEvent {
    int id = 0;
    QString event;
    QDBusVariant data;
    uint time = 0;
};
using MenuEvents = QList<MenuEvent>;

QDBusArgument& operator<<(QDBusArgument& a, const IconPixmap& p) {
    a.beginStructure();
    a << p.width << p.height << p.bytes;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, IconPixmap& p) {
    a.beginStructure();
    a >> p.width >> p.height >> p.bytes;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const ToolTip& t) {
    a.beginStructure();
    a << t.icon << t.pixmaps << t.title << t.text;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, ToolTip& t) {
    a.beginStructure();
    a >> t.icon >> t.pixmaps >> t.title >> t.text;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const MenuLayout& m) {
    a.beginStructure();
    a << m.id << m.properties;
    a.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayout& child : m.children)
        a << QDBusVariant(QVariant::fromValue(child));
    a.endArray();
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuLayout& m) {
    a.beginStructure();
    a >> m.id >> m.properties;
    a.beginArray();
    while (!a.atEnd()) {
        QDBusVariant child;
        a >> child;
        m.children << qdbus_cast<MenuLayout>(child.variant());
    }
    a.endArray();
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const MenuItem& i) {
    a.beginStructure();
    a << i.id << i.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuItem& i) {
    a.beginStructure();
    a >> i.id >> i.properties;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const MenuEvent& e) {
    a.beginStructure();
    a << e.id << e.event << e.data << e.time;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuEvent& e) {
    a.beginStructure();
    a >> e.id >> e.event >> e.data >> e.time;
    a.endStructure();
    return a;
}

} // namespace desktop::sni

Q_DECLARE_METATYPE(desktop::sni::IconPixmap)
Q_DECLARE_METATYPE(desktop::sni::ToolTip)
Q_DECLARE_METATYPE(desktop::sni::MenuLayout)
Q_DECLARE_METATYPE(desktop::sni::MenuItem)
Q_DECLARE_METATYPE(desktop::sni::MenuEvent)

namespace desktop {
namespace {

using namespace sni;

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// The most devices the menu lists.
constexpr std::size_t kMostRows = 40;

// The menu's fixed rows; devices have ids from 100 up.
enum MenuId { Root = 0, Settings = 1, Quit = 2, Separator = 3, Nothing = 4 };

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<IconPixmaps>();
        qDBusRegisterMetaType<ToolTip>();
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItem>();
        qDBusRegisterMetaType<MenuItems>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEvents>();
        return true;
    }();
    Q_UNUSED(once);
}

IconPixmap pixmapOf(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    IconPixmap out{argb.width(), argb.height(), {}};
    out.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* to = reinterpret_cast<uchar*>(out.bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, to += 4)
            qToBigEndian<quint32>(line[x], to);
    }
    return out;
}

IconPixmaps pixmapsOf(const std::optional<layout::BatteryIcon>& icon) {
    IconPixmaps out;
    if (!icon) {
        for (const char* file : {":/layout/device-info-16.png", ":/layout/device-info-32.png"})
            out << pixmapOf(QImage(QString::fromLatin1(file)));
        return out;
    }
    for (const int size : layout::kBatteryIconSizes)
        out << pixmapOf(layout::drawBatteryIcon(*icon, size));
    return out;
}

// A menu label shows an underscore as a mnemonic's mark; a device's own are doubled.
QString label(const QString& text) {
    return QString(text).replace(u'_', QStringLiteral("__"));
}

enum class Call { Unknown, Refused, Fits };

// Whether M is one of the methods of SIGNATURES with the arguments it takes. One with others is
// answered with an error here, never read: a wrong type read from a message is undefined.
Call checked(const QDBusMessage& m, const QDBusConnection& bus,
             std::initializer_list<std::pair<const char*, const char*>> signatures) {
    for (const auto& [member, signature] : signatures) {
        if (m.member() != QLatin1String(member))
            continue;
        if (m.signature() == QLatin1String(signature))
            return Call::Fits;
        bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                    QStringLiteral("%1 takes (%2)").arg(m.member(), signature)));
        return Call::Refused;
    }
    return Call::Unknown;
}

// Get, GetAll and Set of org.freedesktop.DBus.Properties for INTERFACE, whose properties are
// ALL.
bool answerProperties(const QDBusMessage& m, const QDBusConnection& bus, const QString& interface,
                      const QVariantMap& all) {
    const Call call = checked(m, bus, {{"GetAll", "s"}, {"Get", "ss"}, {"Set", "ssv"}});
    if (call != Call::Fits)
        return call == Call::Refused;
    const QVariantList args = m.arguments();
    const QString asked = args.value(0).toString();
    if (m.member() == QLatin1String("GetAll")) {
        bus.send(
            m.createReply(QVariant(asked == interface || asked.isEmpty() ? all : QVariantMap())));
        return true;
    }
    if (m.member() == QLatin1String("Get")) {
        const QString name = args.value(1).toString();
        if ((asked != interface && !asked.isEmpty()) || !all.contains(name)) {
            bus.send(
                m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                                   QStringLiteral("No property %1").arg(name)));
            return true;
        }
        bus.send(m.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
        return true;
    }
    bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                QStringLiteral("Every property is read-only")));
    return true;
}

const char kItemXml[] = R"xml(<interface name="org.kde.StatusNotifierItem">
<property name="Category" type="s" access="read"/>
<property name="Id" type="s" access="read"/>
<property name="Title" type="s" access="read"/>
<property name="Status" type="s" access="read"/>
<property name="WindowId" type="i" access="read"/>
<property name="IconThemePath" type="s" access="read"/>
<property name="IconName" type="s" access="read"/>
<property name="IconPixmap" type="a(iiay)" access="read"/>
<property name="OverlayIconName" type="s" access="read"/>
<property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
<property name="AttentionIconName" type="s" access="read"/>
<property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
<property name="AttentionMovieName" type="s" access="read"/>
<property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
<property name="ItemIsMenu" type="b" access="read"/>
<property name="Menu" type="o" access="read"/>
<method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
<method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
<method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
<method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
<method name="ProvideXdgActivationToken"><arg name="token" type="s" direction="in"/></method>
<signal name="NewTitle"/>
<signal name="NewIcon"/>
<signal name="NewAttentionIcon"/>
<signal name="NewOverlayIcon"/>
<signal name="NewToolTip"/>
<signal name="NewStatus"><arg name="status" type="s"/></signal>
</interface>
)xml";

const char kMenuXml[] = R"xml(<interface name="com.canonical.dbusmenu">
<property name="Version" type="u" access="read"/>
<property name="TextDirection" type="s" access="read"/>
<property name="Status" type="s" access="read"/>
<property name="IconThemePath" type="as" access="read"/>
<method name="GetLayout"><arg name="parentId" type="i" direction="in"/><arg name="recursionDepth" type="i" direction="in"/><arg name="propertyNames" type="as" direction="in"/><arg name="revision" type="u" direction="out"/><arg name="layout" type="(ia{sv}av)" direction="out"/></method>
<method name="GetGroupProperties"><arg name="ids" type="ai" direction="in"/><arg name="propertyNames" type="as" direction="in"/><arg name="properties" type="a(ia{sv})" direction="out"/></method>
<method name="GetProperty"><arg name="id" type="i" direction="in"/><arg name="name" type="s" direction="in"/><arg name="value" type="v" direction="out"/></method>
<method name="Event"><arg name="id" type="i" direction="in"/><arg name="eventId" type="s" direction="in"/><arg name="data" type="v" direction="in"/><arg name="timestamp" type="u" direction="in"/></method>
<method name="EventGroup"><arg name="events" type="a(isvu)" direction="in"/><arg name="idErrors" type="ai" direction="out"/></method>
<method name="AboutToShow"><arg name="id" type="i" direction="in"/><arg name="needUpdate" type="b" direction="out"/></method>
<method name="AboutToShowGroup"><arg name="ids" type="ai" direction="in"/><arg name="updatesNeeded" type="ai" direction="out"/><arg name="idErrors" type="ai" direction="out"/></method>
<signal name="ItemsPropertiesUpdated"><arg name="updatedProps" type="a(ia{sv})"/><arg name="removedProps" type="a(ias)"/></signal>
<signal name="LayoutUpdated"><arg name="revision" type="u"/><arg name="parent" type="i"/></signal>
<signal name="ItemActivationRequested"><arg name="id" type="i"/><arg name="timestamp" type="u"/></signal>
</interface>
)xml";

} // namespace

std::optional<layout::BatteryIcon> iconOf(const care::Glance& glance) {
    const care::GlanceRow* row = glance.lookRow();
    if (!row)
        return std::nullopt;
    layout::BatteryIcon icon;
    icon.percent = row->percent.value_or(0);
    icon.charging = row->charging;
    icon.warning = row->warning();
    if (row->standing == care::Standing::Critical || icon.percent <= 5)
        icon.tone = layout::BatteryIcon::Tone::Critical;
    else if (row->standing == care::Standing::Low)
        icon.tone = layout::BatteryIcon::Tone::Low;
    return icon;
}

// org.kde.StatusNotifierItem at /StatusNotifierItem.
class StatusItem::ItemObject : public QDBusVirtualObject {
public:
    explicit ItemObject(StatusItem& item) : m_item(item) {}

    QString introspect(const QString&) const override { return QString::fromLatin1(kItemXml); }

    QVariantMap properties() const {
        const QVariant none = QVariant::fromValue(IconPixmaps());
        return {
            {QStringLiteral("Category"), QStringLiteral("Hardware")},
            {QStringLiteral("Id"), QStringLiteral(DEVICE_INFO_APP_ID)},
            {QStringLiteral("Title"), QStringLiteral("Device Info")},
            {QStringLiteral("Status"), QStringLiteral("Active")},
            {QStringLiteral("WindowId"), 0},
            {QStringLiteral("IconThemePath"), QString()},
            // A theme's icon of the program where no battery is shown; else only ours.
            {QStringLiteral("IconName"),
             m_item.m_icon ? QString() : QStringLiteral(DEVICE_INFO_APP_ID)},
            {QStringLiteral("IconPixmap"), pixmaps},
            {QStringLiteral("OverlayIconName"), QString()},
            {QStringLiteral("OverlayIconPixmap"), none},
            {QStringLiteral("AttentionIconName"), QString()},
            {QStringLiteral("AttentionIconPixmap"), none},
            {QStringLiteral("AttentionMovieName"), QString()},
            {QStringLiteral("ToolTip"),
             QVariant::fromValue(ToolTip{{}, {}, QStringLiteral("Device Info"), m_item.m_tooltip})},
            {QStringLiteral("ItemIsMenu"), false},
            {QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(kMenuPath))}};
    }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.interface() == kProperties)
            return answerProperties(m, bus, kItemInterface, properties());
        if (!m.interface().isEmpty() && m.interface() != kItemInterface)
            return false;
        const Call call = checked(m, bus,
                                  {{"ProvideXdgActivationToken", "s"},
                                   {"Activate", "ii"},
                                   {"ContextMenu", "ii"},
                                   {"SecondaryActivate", "ii"},
                                   {"Scroll", "is"}});
        if (call != Call::Fits)
            return call == Call::Refused;
        bus.send(m.createReply());
        if (m.member() == QLatin1String("ProvideXdgActivationToken")) {
            // A token is short; anything longer is nobody's.
            const QString token = m.arguments().value(0).toString();
            m_item.m_token = token.size() <= 256 ? token : QString();
        } else if (m.member() == QLatin1String("Activate") && m_item.m_actions.showDevice) {
            const care::GlanceRow* look = m_item.m_glance.lookRow();
            m_item.m_actions.showDevice(look ? look->serial : QString(), m_item.takeToken());
        }
        return true;
    }

    QVariant pixmaps;

private:
    StatusItem& m_item;
};

// com.canonical.dbusmenu at /MenuBar: a row a device, then Notifications… and Quit.
class StatusItem::MenuObject : public QDBusVirtualObject {
public:
    explicit MenuObject(StatusItem& item) : m_item(item) {}

    QString introspect(const QString&) const override { return QString::fromLatin1(kMenuXml); }

    // Every row's properties, by id.
    std::vector<MenuItem> items() const {
        std::vector<MenuItem> out;
        for (const Row& row : m_item.m_rows)
            out.push_back({row.id, {{QStringLiteral("label"), label(row.label)}}});
        if (m_item.m_rows.empty())
            out.push_back({Nothing,
                           {{QStringLiteral("label"), QStringLiteral("No device is attached")},
                            {QStringLiteral("enabled"), false}}});
        out.push_back({Separator, {{QStringLiteral("type"), QStringLiteral("separator")}}});
        out.push_back({Settings, {{QStringLiteral("label"), QStringLiteral("Notifications…")}}});
        out.push_back({Quit, {{QStringLiteral("label"), QStringLiteral("Quit")}}});
        return out;
    }

    std::optional<MenuItem> item(int id) const {
        if (id == Root)
            return MenuItem{Root,
                            {{QStringLiteral("children-display"), QStringLiteral("submenu")}}};
        for (const MenuItem& i : items()) {
            if (i.id == id)
                return i;
        }
        return std::nullopt;
    }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.interface() == kProperties)
            return answerProperties(m, bus, kMenuInterface,
                                    {{QStringLiteral("Version"), 3u},
                                     {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
                                     {QStringLiteral("Status"), QStringLiteral("normal")},
                                     {QStringLiteral("IconThemePath"), QStringList()}});
        if (!m.interface().isEmpty() && m.interface() != kMenuInterface)
            return false;
        const Call call = checked(m, bus,
                                  {{"GetLayout", "iias"},
                                   {"GetGroupProperties", "aias"},
                                   {"GetProperty", "is"},
                                   {"Event", "isvu"},
                                   {"EventGroup", "a(isvu)"},
                                   {"AboutToShow", "i"},
                                   {"AboutToShowGroup", "ai"}});
        if (call != Call::Fits)
            return call == Call::Refused;
        const QString member = m.member();
        const QVariantList args = m.arguments();
        const auto unknown = [&] {
            bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                        QStringLiteral("No such menu item")));
            return true;
        };
        if (member == QLatin1String("GetLayout")) {
            const std::optional<MenuItem> parent = item(args[0].toInt());
            if (!parent)
                return unknown();
            MenuLayout layout{parent->id, parent->properties, {}};
            if (parent->id == Root && args[1].toInt() != 0) {
                for (const MenuItem& i : items())
                    layout.children << MenuLayout{i.id, i.properties, {}};
            }
            bus.send(m.createReply({m_item.m_revision, QVariant::fromValue(layout)}));
        } else if (member == QLatin1String("GetGroupProperties")) {
            MenuItems out;
            for (const int id : qdbus_cast<QList<int>>(args[0])) {
                if (const std::optional<MenuItem> i = item(id); i && out.size() < 1000)
                    out << *i;
            }
            bus.send(m.createReply(QVariant::fromValue(out)));
        } else if (member == QLatin1String("GetProperty")) {
            const std::optional<MenuItem> i = item(args[0].toInt());
            if (!i || !i->properties.contains(args[1].toString()))
                return unknown();
            bus.send(m.createReply(
                QVariant::fromValue(QDBusVariant(i->properties.value(args[1].toString())))));
        } else if (member == QLatin1String("Event")) {
            bus.send(m.createReply());
            if (args[1].toString() == QLatin1String("clicked"))
                m_item.clicked(args[0].toInt());
        } else if (member == QLatin1String("EventGroup")) {
            QList<int> errors;
            std::optional<int> click;
            for (const MenuEvent& e : qdbus_cast<MenuEvents>(args[0])) {
                if (!item(e.id))
                    errors << e.id;
                // One click a call: a group of them is one gesture, not a window each.
                else if (e.event == QLatin1String("clicked") && !click)
                    click = e.id;
            }
            bus.send(m.createReply(QVariant::fromValue(errors.mid(0, 1000))));
            if (click)
                m_item.clicked(*click);
        } else if (member == QLatin1String("AboutToShow")) {
            bus.send(m.createReply(QVariant(false)));
        } else {
            bus.send(m.createReply(
                {QVariant::fromValue(QList<int>()), QVariant::fromValue(QList<int>())}));
        }
        return true;
    }

private:
    StatusItem& m_item;
};

StatusItem::StatusItem(const QDBusConnection& bus, Actions actions, int noPanelMs, QObject* parent)
    : QObject(parent), m_bus(bus), m_actions(std::move(actions)),
      m_item(std::make_unique<ItemObject>(*this)), m_menu(std::make_unique<MenuObject>(*this)) {
    registerTypes();
    static int made = 0;
    m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(++made);
    show({});
    m_bus.registerVirtualObject(kItemPath, m_item.get());
    m_bus.registerVirtualObject(kMenuPath, m_menu.get());
    m_bus.registerService(m_service);
    // A panel that starts after this, or restarts, takes the item as soon as its watcher is
    // there.
    auto* watcher =
        new QDBusServiceWatcher(kWatcher, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    setRegistered(false);
                else
                    registerWithWatcher();
            });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &StatusItem::registerWithWatcher);
    registerWithWatcher();
    // A session's panel and its autostart entries start side by side: it is given time.
    m_noPanel.setSingleShot(true);
    connect(&m_noPanel, &QTimer::timeout, this, [this] {
        if (!m_registered && !std::exchange(m_saidNoPanel, true) && m_actions.say)
            m_actions.say(QStringLiteral("no panel takes status items in this session (nothing "
                                         "answers as org.kde.StatusNotifierWatcher): every "
                                         "battery shows there once one does; care goes on"));
    });
    m_noPanel.start(noPanelMs);
}

StatusItem::~StatusItem() {
    m_bus.unregisterService(m_service);
    m_bus.unregisterObject(kItemPath);
    m_bus.unregisterObject(kMenuPath);
}

void StatusItem::registerWithWatcher() {
    const quint64 attempt = ++m_registering;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, attempt] {
        pending->deleteLater();
        if (attempt != m_registering)
            return;
        setRegistered(!pending->isError());
        // A watcher that is there but not ready yet (its name taken before its object is
        // made) is asked again, less and less often.
        if (!pending->isError())
            m_retryMs = 0;
        else if (m_bus.interface()->isServiceRegistered(kWatcher).value())
            m_retry.start(m_retryMs = std::min(std::max(m_retryMs * 2, 500), 30000));
    });
}

void StatusItem::setRegistered(bool registered) {
    if (std::exchange(m_registered, registered) != registered)
        emit registeredChanged(registered);
}

void StatusItem::emitSignal(const QString& path, const QString& interface, const QString& name,
                            const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
    message.setArguments(arguments);
    m_bus.send(message);
}

QString StatusItem::takeToken() {
    return std::exchange(m_token, QString());
}

void StatusItem::clicked(int id) {
    if (id == Settings && m_actions.showSettings)
        return m_actions.showSettings(takeToken());
    if (id == Quit && m_actions.quit)
        return m_actions.quit();
    for (const Row& row : m_rows) {
        if (row.id == id && m_actions.showDevice)
            return m_actions.showDevice(row.serial, takeToken());
    }
}

void StatusItem::show(const care::Glance& glance) {
    const bool first = !std::exchange(m_shownOnce, true);
    if (!first && glance == m_glance)
        return;
    m_glance = glance;
    if (const std::optional<layout::BatteryIcon> icon = iconOf(glance); first || icon != m_icon) {
        m_icon = icon;
        m_item->pixmaps = QVariant::fromValue(pixmapsOf(m_icon));
        if (!first)
            emitSignal(kItemPath, kItemInterface, QStringLiteral("NewIcon"));
    }
    if (const QString tooltip = care::markupEscaped(care::tooltipText(glance));
        tooltip != m_tooltip) {
        m_tooltip = tooltip;
        if (!first)
            emitSignal(kItemPath, kItemInterface, QStringLiteral("NewToolTip"));
    }
    // Ids of devices long gone are let go, so that a session that sees thousands keeps few.
    if (m_ids.size() > 1000) {
        QHash<QString, int> kept;
        for (const Row& row : m_rows)
            kept.insert(row.serial, row.id);
        m_ids = kept;
    }
    std::vector<Row> rows;
    for (const care::GlanceRow& row : glance.rows) {
        // A menu taller than the screen is no use: a lab's hundred devices are in its page.
        if (rows.size() == kMostRows)
            break;
        auto id = m_ids.constFind(row.serial);
        if (id == m_ids.cend())
            id = m_ids.insert(row.serial, m_nextId++);
        rows.push_back({*id, row.serial, row.line});
    }
    if (rows != m_rows) {
        m_rows = std::move(rows);
        ++m_revision;
        if (!first)
            emitSignal(kMenuPath, kMenuInterface, QStringLiteral("LayoutUpdated"),
                       {m_revision, int(Root)});
    }
}

} // namespace desktop
