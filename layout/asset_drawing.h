// Draws the window's bitmaps: the two connection status pictures and the window icon. The
// files in layout/assets are this code's output, so they can be checked and redrawn.
#pragma once

#include <QByteArray>

namespace layout {

enum class StatusLook { Disconnected, Connected };

// A 78 x 39, 24-bit, uncompressed BMP file: two outlined discs on the dialog background.
QByteArray drawStatusBitmap(StatusLook look);

// An .ico file with 32 x 32 and 16 x 16 images in 16 colours, fully opaque.
QByteArray drawWindowIcon();

} // namespace layout
