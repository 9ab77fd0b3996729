// What the program tells the desktop about itself, and how what the link says beyond the
// window's procedures reaches the window: its state in words, the device's details, and the
// report that "Copy all" puts on the clipboard. Kept apart from the window's own logic.
#pragma once

#include <functional>

class KindLink;
class QString;
class QWidget;
struct DeviceDetails;

namespace desktop {

// The reverse-DNS id that the desktop entry, the AppStream metadata and the icons carry.
QString applicationId();

// Names the application. It sets no display name: Qt's xcb platform would append one to every
// window title that does not already end with it.
void nameApplication();

// Shows the link's status text as the tooltip and accessible description of the connection
// panel and both status pictures. The text may carry a device's own words, so it is shown as
// plain text.
void showLinkStatus(QWidget& window, const QString& text);

// Shows each panel's details as the tooltip and accessible description of its value fields; a
// panel with nothing more to say has neither.
void showDetails(QWidget& window, const DeviceDetails& details);

// The window as plain text, for a bug report or a chat: the title, one line per caption and
// value in the window's order, then the status and the details. Device strings stand in it as
// they are.
QString report(const QWidget& window, const QString& status, const DeviceDetails& details);

// "Copy all" in the window's context menu puts REPORT on the clipboard; so does Ctrl+C, unless a
// value field has a selection, which it copies instead.
void installCopy(QWidget& window, std::function<QString()> report);

// All of the above for a window on LINK, kept up to date as the link's status and details
// change.
void showLink(QWidget& window, const KindLink& link);

} // namespace desktop
