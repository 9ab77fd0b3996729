// The window's Device submenu: every device either kind of link sees, the one shown checked and
// those that cannot be shown disabled, and "First ready device" to go back to the default. A
// choice lasts for this run only, as --serial does.
#pragma once

#include <functional>

#include <QString>

class CombinedLink;
class QMenu;
class QWidget;
struct AttachedDevice;

namespace desktop {

// An entry's words: "Pixel 7a (Android, 35161FDJH000GW)", "iPhone 00008110-001A2B3C4D5E801E
// (waiting for Trust)"; the device's own strings made printable, "&" shown as itself.
QString deviceEntryText(const AttachedDevice& device);

// Adds the submenu to the window's context menu, first; its entries follow the link.
QMenu* installDeviceMenu(QWidget& window, CombinedLink& link,
                         std::function<void(QMenu&)> more = {});

} // namespace desktop
