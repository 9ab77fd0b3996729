// Every battery at a glance: what the panel's item and a status bar show of the devices the
// watcher reads. Each device gets one line in the words of the window's details, and one of
// them is the device that most needs a look. Pure: readings in, words out, decided once for
// every face that shows them.
#pragma once

#include "device_link/device_reading.h"
#include "device_link/survey.h"
#include "display/battery_care.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace care {

// A device as the watcher last saw it: as listed, and its last good reading where it has one.
struct Watched {
    survey::ListedDevice listed;
    std::optional<DeviceReading> reading;
};

// What the window's title calls DEVICE, safe to show: its own name, else its serial.
QString nameOf(const Watched& device);

// How a battery stands, the worst first. A status bar's class says it.
enum class Standing { Hot, Draining, Critical, Low, Charging, Ok };

// "hot", "draining", "critical", "low", "charging", "ok".
QString standingWord(Standing standing);

struct GlanceRow {
    QString serial;
    QString name;                  // as nameOf() gives it
    QString line;                  // "Pixel Lab 7 — 78%, charging at 7.6 W"
    QString charge;                // "78%", "normal"; empty where none is known
    std::optional<double> percent; // its charge, or what its coarse level stands for
    bool charging = false;
    Standing standing = Standing::Ok;
    bool warning() const { return standing == Standing::Hot || standing == Standing::Draining; }
    bool operator==(const GlanceRow&) const = default;
};

struct Glance {
    std::vector<GlanceRow> rows; // in the listing's order
    int look = -1;               // the row that most needs a look; -1: none has a battery read
    const GlanceRow* lookRow() const { return look < 0 ? nullptr : &rows[std::size_t(look)]; }
    bool operator==(const Glance&) const = default;
};

// DEVICES at a glance: low and hot as LIMITS put them where those notices are on (else 20% and
// 45 °C, the page's and the shipped rules' heat). The one that most needs a look: one hot or
// draining on mains, else the lowest charge of those not charging, else the lowest.
Glance glance(const std::vector<Watched>& devices, const Limits& limits);

// The rows' lines, one a line, at most 20 (the last then counts the others); a sentence where
// no device is attached.
QString tooltipText(const Glance& glance);

// One line of Waybar's custom-module JSON: text (the device that most needs a look, short),
// tooltip, class and percentage. Waybar reads text and tooltip as Pango markup: a device's name
// is escaped, never markup.
QByteArray waybarLine(const Glance& glance);

// TEXT with &, < and > as entities: for the markup of a panel's tooltip or a bar's text.
QString markupEscaped(const QString& text);

} // namespace care
