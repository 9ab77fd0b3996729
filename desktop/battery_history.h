// The battery history beside the window: what it reads of a battery's wear is recorded, and
// the Battery history window opens from its context menu.
#pragma once

class CombinedLink;
class QString;
class QWidget;

namespace history {
class Recorder;
class Writer;
} // namespace history

namespace desktop {

// Writes through WRITER what WINDOW's LINK reads of a battery's health, as RECORDER decides;
// adds Battery history... to the window's context menu; says the writer's notices once on
// standard error and keeps them in the light's tooltip. The history lives at PATH.
void installHistory(QWidget& window, CombinedLink& link, history::Writer& writer,
                    history::Recorder& recorder, const QString& path);

} // namespace desktop
