// The battery history's faces: the window records what it reads of a battery's wear and opens
// the Battery history window from its context menu; --history prints the records for a script.
#pragma once

class CombinedLink;
class QString;
class QWidget;

namespace history {
class Recorder;
class Writer;
} // namespace history

namespace app {

struct CommandLine;

// Writes through WRITER what WINDOW's LINK reads of a battery's health, as RECORDER decides;
// adds Battery history... to the window's context menu; says the writer's notices once on
// standard error and keeps them in the light's tooltip. The history lives at PATH.
void installHistory(QWidget& window, CombinedLink& link, history::Writer& writer,
                    history::Recorder& recorder, const QString& path);

// Prints the records, oldest first, and returns the exit status: 0, even with none; 1 when the
// history cannot be read, with why on standard error.
int runHistory(const CommandLine& command);

} // namespace app
