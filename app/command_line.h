// The program's command line: --serial to choose one device, --help and --version, as a desktop
// program has them; and the link that the window holds, made from what was chosen.
#pragma once

#include "cli/script_face.h"
#include "exporter/serve.h"

#include <QString>
#include <QStringList>

#include <memory>

class CombinedLink;

namespace app {

struct CommandLine {
    enum class Action { Run, Help, Version, Error, List, Report, Serve, History, Care, Follow };
    Action action = Action::Run;
    QString message; // the help, the version or the error, to print
    // --serial, --json, --all and --wait, for the window (its serial), the scripts and
    // --history.
    cli::ScriptRequest script;
    exporter::ServeOptions serve; // --serve, --web-config and --interval
    bool waybar = false;          // --follow --waybar: Waybar's JSON in place of the report's
    bool notifications = false;   // --notifications: the window with Notifications... open
};

CommandLine parseCommandLine(const QStringList& arguments);

// One link over Android devices (through the adb server) and Apple devices (through usbmuxd).
// A chosen serial is the only device followed, of either kind; without one, ANDROID_SERIAL
// chooses an Android device and no iPhone is followed.
std::unique_ptr<CombinedLink> makeDeviceLink(const QString& chosenSerial);

} // namespace app
