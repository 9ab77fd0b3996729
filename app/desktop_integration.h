// What the program tells the desktop about itself, and how the link's state in words reaches the
// window, kept apart from the window's own logic.
#pragma once

class QString;
class QWidget;

namespace app {

// The reverse-DNS id that the desktop entry, the AppStream metadata and the icons carry.
QString applicationId();

// Names the application. It sets no display name: Qt's xcb platform would append one to every
// window title that does not already end with it.
void nameApplication();

// Shows the link's status text as the tooltip and accessible description of the connection
// panel and both status pictures. The text may carry a device's own words, so it is shown as
// plain text.
void showLinkStatus(QWidget& window, const QString& text);

} // namespace app
