// device-info --follow: every device's battery as one line at once and one more each time it
// changes, for status bars (--waybar) and scripts (--json), from the watcher's reads: the
// settings' interval, UPower as it changes. It ends on SIGTERM, and when its reader has gone.
#pragma once

#include <QByteArray>

#include <vector>

namespace care {
struct Watched;
}

namespace cli {

// Every device read of DEVICES as --report --all --json gives them, on one line.
QByteArray followJsonLine(const std::vector<care::Watched>& devices);

// Runs until told to end, or until its reader has gone, then returns 0; 1 where SIGTERM cannot
// be caught or a line cannot be written.
int runFollow(bool waybar);

} // namespace cli
