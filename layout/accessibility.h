// What assistive technology learns of the window's own widgets: the bars report their value as
// progress bars do, the status pictures are graphics.
#pragma once

namespace layout {

// Registers the window's accessible interfaces with Qt; once is enough, more is harmless.
void installAccessibility();

} // namespace layout
