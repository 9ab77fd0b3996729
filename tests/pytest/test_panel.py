# Every battery at a glance with no window open: device-info --care's StatusNotifierItem and its
# com.canonical.dbusmenu menu read over D-Bus as a panel reads them, on a private session bus
# whose StatusNotifierWatcher is the test's own (python3-dbusmock's); and --follow's lines as a
# status bar reads them.
import json
import os
import re
import select
import signal
import subprocess
import time

import dbus
import dbusmock

from conftest import DEVICE_INFO, wait_until
from session_desktop import Process, desktop, notices, owner_pid, settings  # noqa: F401
from peripherals import HEADSET, MOUSE, Bus, add

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"


def session():
    """The test's session bus; a fixture's session bus of its own each time."""
    return dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])


class Panel:
    """A panel's StatusNotifierWatcher: it records each item that registers."""

    def __init__(self):
        self.server = Bus.spawn_server(WATCHER, "/StatusNotifierWatcher", WATCHER,
                                       stdout=subprocess.DEVNULL)
        self.mock = dbus.Interface(session().get_object(WATCHER, "/StatusNotifierWatcher"),
                                   dbusmock.MOCK_IFACE)
        self.mock.AddMethod(WATCHER, "RegisterStatusNotifierItem", "s", "", "")

    def items(self):
        return [str(args[0]) for _, method, args in self.mock.GetCalls()
                if method == "RegisterStatusNotifierItem"]

    def stop(self):
        self.server.terminate()
        self.server.wait()


class Item:
    """The item a service registered, read as a panel reads it."""

    def __init__(self, service):
        bus = session()
        self.item = bus.get_object(service, "/StatusNotifierItem")
        self.menu = bus.get_object(service, "/MenuBar")

    def properties(self):
        return self.item.GetAll(ITEM, dbus_interface=dbus.PROPERTIES_IFACE)

    def tooltip(self):
        return str(self.properties()["ToolTip"][3])

    def rows(self):
        """Each row of the menu: (id, label, enabled)."""
        _, (_, _, children) = self.menu.GetLayout(0, -1, [], dbus_interface=MENU)
        return [(int(c[0]), str(c[1].get("label", "-")), bool(c[1].get("enabled", True)))
                for c in children]

    def click(self, label):
        row = next(i for i, text, _ in self.rows() if text.startswith(label))
        self.menu.Event(row, "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
                        dbus_interface=MENU)


def signals(log):
    """The item's and the menu's signals dbus-monitor saw, in order."""
    with open(log, encoding="utf-8", errors="replace") as f:
        return re.findall(r"member=(NewIcon|NewToolTip|LayoutUpdated)", f.read())


def test_every_battery_in_the_panel_read_clicked_and_followed(desktop, lab, home, tmp_path):
    notify, upower = desktop
    panel = Panel()
    phone = lab.phone("current_phone")
    for line in ("set battery.level 85", "set battery.charging 1"):
        assert phone.control(line) == "ok"
    headset = add(upower, "headset_dev_AA", dict(HEADSET, Percentage=12.0))
    add(upower, "mouse_dev_1", dict(MOUSE, Model="M<b>&_720"))
    # The panel alone: it reads at the interval, and notifies nothing.
    settings(home, panel=True, intervalSeconds=10)
    care = Process(home, "--care")
    monitor_log = tmp_path / "signals.log"
    monitor = subprocess.Popen(["dbus-monitor", "--session", f"type='signal',interface='{ITEM}'",
                                f"type='signal',interface='{MENU}'"],
                               stdout=open(monitor_log, "wb"), stderr=subprocess.DEVNULL)
    opened = None
    try:
        assert wait_until(panel.items, 15), care.said()
        item = Item(panel.items()[0])
        lines = ["Lab-07 — 85%, charging at 1.5 W",
                 "Evolve2 65 — 12%, 2 h left",
                 "M&lt;b&gt;&amp;_720 — normal"]
        assert wait_until(lambda: item.tooltip() == "\n".join(lines), 15), (item.tooltip(),
                                                                          care.said())
        shown = item.properties()
        assert (shown["Title"], shown["Status"], shown["IconName"], shown["Menu"]) == (
            "Device Info", "Active", "", "/MenuBar")
        sizes = [(int(w), int(h), len(data)) for w, h, data in shown["IconPixmap"]]
        assert sizes == [(s, s, s * s * 4) for s in (16, 22, 24, 32, 48, 64)]
        # A label's underscore is a mnemonic's mark: a device's own is doubled.
        assert item.rows() == [
            (item.rows()[0][0], "Lab-07 — 85%, charging at 1.5 W", True),
            (item.rows()[1][0], "Evolve2 65 — 12%, 2 h left", True),
            (item.rows()[2][0], "M<b>&__720 — normal", True),
            (3, "-", True), (1, "Notifications…", True), (2, "Quit", True)]
        assert notices(notify) == []

        # UPower's change shows as it comes: the icon and tooltip once each, the menu's rows.
        time.sleep(1)
        before = signals(monitor_log)
        upower.SetDeviceProperties(headset, dbus.Dictionary({"Percentage": 9.0},
                                                            signature="sv"))
        assert wait_until(lambda: "Evolve2 65 — 9%, 2 h left" in item.tooltip(), 5)
        # The phone's next read changes nothing: nothing is sent.
        reads = phone.control("count")
        assert wait_until(lambda: phone.control("count") != reads, 15)
        time.sleep(1)
        assert signals(monitor_log)[len(before):] == ["NewIcon", "NewToolTip", "LayoutUpdated"]

        # Left click: the window on the device that most needs a look, the headset at 9%.
        item.item.Activate(0, 0, dbus_interface=ITEM)
        opened = wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo"), 15)
        assert opened, care.said()
        with open(f"/proc/{opened}/cmdline") as f:
            assert f.read().split("\0")[1:3] == ["--serial", "AA:BB:CC:DD:EE:FF"]
        assert wait_until(lambda: "Connected to Evolve2 65" in care.said(), 15), care.said()
        # A row turns the open window to its device.
        item.click("Lab-07")
        assert wait_until(lambda: "Connected to Pixel 7a" in care.said(), 15), care.said()

        # Notifications… with no window open opens one with its dialog.
        os.kill(opened, signal.SIGTERM)
        assert wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo") is None, 10)
        item.click("Notifications")
        opened = wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo"), 15)
        with open(f"/proc/{opened}/cmdline") as f:
            assert f.read().split("\0")[1:] == ["--notifications", ""]

        # Quit ends the watcher, and nothing else.
        item.click("Quit")
        assert care.process.wait(5) == 0, care.said()
        assert os.kill(opened, 0) is None
    finally:
        monitor.terminate()
        if opened:
            os.kill(opened, signal.SIGTERM)
        if care.process.poll() is None:
            care.stop()
        panel.stop()


def test_a_panel_that_comes_late_or_restarts_gets_the_item(desktop, lab, home):
    _, upower = desktop
    add(upower, "headset_dev_AA", HEADSET)
    settings(home, panel=True)
    care = Process(home, "--care")
    panel = None
    try:
        # No panel: said once, and watching goes on.
        assert wait_until(lambda: "panel" in care.said(), 15), care.said()
        panel = Panel()
        assert wait_until(panel.items, 5), care.said()
        panel.stop()
        panel = Panel()
        assert wait_until(panel.items, 5), care.said()
        item = Item(panel.items()[0])
        assert "Evolve2 65 — 57%" in item.tooltip()
        # A device plugged in or out shows at once, not at the next round a minute on.
        phone = lab.phone("current_phone")
        mouse = add(upower, "mouse_dev_1", MOUSE)
        assert wait_until(lambda: "Lab-07 — 76%" in item.tooltip()
                          and "Logitech mouse" in item.tooltip(), 10), item.tooltip()
        lab.adb("disconnect", phone.serial)
        upower.RemoveDevice(mouse)
        assert wait_until(lambda: "Lab-07" not in item.tooltip()
                          and "mouse" not in item.tooltip(), 10), item.tooltip()
        # A lab's worth: the menu lists forty, the tooltip twenty.
        for n in range(44):
            add(upower, f"mouse_{n}", dict(MOUSE, NativePath=f"hidpp_battery_{n}"))
        assert wait_until(lambda: item.tooltip().endswith("and 26 more"), 10), item.tooltip()
        assert len(item.rows()) == 40 + 3
        # The panel turned off in the settings takes the item away; the watcher reads nothing.
        settings(home, panel=False)
        assert wait_until(lambda: "nothing is read" in care.said(), 5), care.said()
        assert care.said().count("no panel takes") == 1, care.said()
        assert care.process.poll() is None
    finally:
        care.stop()
        if panel:
            panel.stop()


def lines(process, count):
    """COUNT lines of PROCESS, or fewer where it writes nothing more for a second."""
    out = []
    for _ in range(count):
        ready = select.select([process.stdout], [], [], 1 if out else 10)[0]
        if not ready:
            break
        out.append(json.loads(process.stdout.readline()))
    return out


def test_follow_writes_a_line_now_and_one_a_change_for_a_bar_and_a_script(desktop, home):
    _, upower = desktop
    headset = add(upower, "headset_dev_AA", dict(HEADSET, Percentage=45.0, TimeToEmpty=11400))
    # Unbuffered: what select() sees waiting is what readline() has not taken yet.
    bar = subprocess.Popen([DEVICE_INFO, "--follow", "--waybar"], env=home, bufsize=0,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    script = subprocess.Popen([DEVICE_INFO, "--follow", "--json"], env=home, bufsize=0,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        assert json.loads(bar.stdout.readline()) == {
            "text": "Evolve2 65 45%", "tooltip": "Evolve2 65 — 45%, 3 h 10 min left",
            "class": "ok", "percentage": 45}
        first = json.loads(script.stdout.readline())
        assert [(d["serial"], d["battery"]["percent"]) for d in first] == [
            ("AA:BB:CC:DD:EE:FF", 45)]
        # A new interval lets no device go meanwhile: nothing changed, nothing is written.
        settings(home, intervalSeconds=30)
        assert not select.select([bar.stdout, script.stdout], [], [], 3)[0]
        upower.SetDeviceProperties(headset, dbus.Dictionary(
            {"Percentage": 4.0, "TimeToEmpty": dbus.Int64(600)}, signature="sv"))
        # The mock tells each property apart: a line may come between.
        assert {"text": "Evolve2 65 4%", "tooltip": "Evolve2 65 — 4%, 10 min left",
                "class": "critical", "percentage": 4} in lines(bar, 2)
        got = lines(script, 3)
        assert [d[0]["battery"]["secondsLeft"] for d in got][-1] == 600, got
        # A reader that stalls is given the newest line when it reads again, never half of
        # one, and SIGTERM is heard meanwhile: within a second.
        for n in range(8):
            add(upower, f"mouse_{n}", dict(MOUSE, NativePath=f"hidpp_battery_{n}"))

        def stall(percents):
            for percent in percents:
                upower.SetDeviceProperties(headset, dbus.Dictionary(
                    {"Percentage": float(percent)}, signature="sv"))
            time.sleep(1)

        stall(range(5, 95))
        seen = []
        while not seen or seen[-1] != 94:
            assert select.select([script.stdout], [], [], 5)[0], seen[-3:]
            seen.append(json.loads(script.stdout.readline())[0]["battery"]["percent"])
        assert len(seen) < 90, "the newest, not a backlog"
        stall(range(95, 5, -1))
        start = time.monotonic()
        script.send_signal(signal.SIGTERM)
        assert script.wait(5) == 0 and time.monotonic() - start < 1
        # A reader gone ends it too.
        bar.stdout.close()
        assert bar.wait(5) == 0
    finally:
        for process in (bar, script):
            if process.poll() is None:
                process.kill()


def test_a_line_that_cannot_be_written_is_no_success(desktop, home):
    _, upower = desktop
    add(upower, "headset_dev_AA", HEADSET)
    with open("/dev/full", "wb") as full:
        for arguments in (["--list"], ["--report", "--all", "--json"], ["--follow", "--waybar"]):
            done = subprocess.run([DEVICE_INFO, *arguments], env=home, stdout=full,
                                  stderr=subprocess.PIPE, text=True, timeout=30)
            assert (done.returncode, done.stderr.splitlines()[-1:]) == (1, [
                "device-info: cannot write to standard output: No space left on device"]), (
                arguments, done.stderr)


def test_the_item_answers_every_call_a_panel_makes_and_refuses_any_other(desktop, home):
    _, upower = desktop
    add(upower, "headset_dev_AA", dict(HEADSET, Percentage=12.0))
    add(upower, "mouse_dev_1", MOUSE)
    settings(home, panel=True)
    panel = Panel()
    care = Process(home, "--care")
    opened = []
    try:
        assert wait_until(panel.items, 15), care.said()
        item = Item(panel.items()[0])
        assert wait_until(lambda: len(item.rows()) == 2 + 3, 10), item.rows()
        headset, mouse = item.rows()[0][0], item.rows()[1][0]

        def call(target, interface, method, *arguments):
            # As given: not as introspection would have them marshalled.
            signature = {"EventGroup": "ai", "GetGroupProperties": "a(ii)as"}
            extra = {"signature": signature[method]} if arguments and isinstance(
                arguments[0], dbus.Array) and method in signature else {}
            try:
                return getattr(target, method)(*arguments, dbus_interface=interface, **extra)
            except dbus.DBusException as e:
                return e.get_dbus_name()

        props, nothing = dbus.PROPERTIES_IFACE, dbus.String("", variant_level=1)
        calls = [
            (item.item, props, "Get", (ITEM, "Title"), "Device Info"),
            (item.item, props, "Get", (ITEM, "Flavour"), "org.freedesktop.DBus.Error.UnknownProperty"),
            (item.item, props, "Set", (ITEM, "Title", nothing), "org.freedesktop.DBus.Error.PropertyReadOnly"),
            (item.item, props, "GetAll", ("org.example.Other",), {}),
            (item.item, ITEM, "Scroll", (1, "vertical"), None),
            (item.item, ITEM, "SecondaryActivate", (0, 0), None),
            (item.menu, props, "Get", (MENU, "Version"), 3),
            (item.menu, MENU, "GetProperty", (1, "label"), "Notifications…"),
            (item.menu, MENU, "GetProperty", (99999, "label"), "org.freedesktop.DBus.Error.InvalidArgs"),
            (item.menu, MENU, "AboutToShow", (0,), False),
            (item.menu, MENU, "AboutToShowGroup", (dbus.Array([1], "i"),), ([], [])),
            (item.menu, MENU, "GetLayout", (12345, -1, dbus.Array([], "s")), "org.freedesktop.DBus.Error.InvalidArgs"),
            # Arguments of another type are refused before they are read.
            (item.menu, MENU, "EventGroup", (dbus.Array([5], "i"),), "org.freedesktop.DBus.Error.InvalidArgs"),
            (item.menu, MENU, "GetGroupProperties", (dbus.Array([(1, 1)], "(ii)"), dbus.Array([], "s")),
             "org.freedesktop.DBus.Error.InvalidArgs"),
        ]
        for target, interface, method, arguments, expected in calls:
            assert call(target, interface, method, *arguments) == expected, (method, arguments)
        assert [int(i) for i, _ in item.menu.GetGroupProperties(
            dbus.Array([1, 2, 999], "i"), dbus.Array([], "s"), dbus_interface=MENU)] == [1, 2]
        _, (root, _, children) = item.menu.GetLayout(0, 0, [], dbus_interface=MENU)
        assert (int(root), list(children)) == (0, [])
        _, (one, properties, children) = item.menu.GetLayout(2, -1, [], dbus_interface=MENU)
        assert (int(one), str(properties["label"]), list(children)) == (2, "Quit", [])

        # A group of clicks is one gesture: the first row's window, once; a bad id is named.
        assert [int(i) for i in item.menu.EventGroup(
            [(mouse, "clicked", nothing, dbus.UInt32(0)), (headset, "clicked", nothing,
                                                         dbus.UInt32(0)),
             (999, "clicked", nothing, dbus.UInt32(0))], dbus_interface=MENU)] == [999]
        pid = wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo"), 15)
        opened.append(pid)
        with open(f"/proc/{pid}/cmdline") as f:
            assert f.read().split("\0")[1:3] == ["--serial", "hidpp_battery_0"]
        os.kill(pid, signal.SIGTERM)
        assert wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo") is None, 10)
        # The panel's activation token goes to the window a click opens, once, and a token past
        # belief to none.
        item.item.ProvideXdgActivationToken("x" * 257, dbus_interface=ITEM)
        item.item.ProvideXdgActivationToken("token-1", dbus_interface=ITEM)
        item.item.Activate(0, 0, dbus_interface=ITEM)
        pid = wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo"), 15)
        opened.append(pid)
        with open(f"/proc/{pid}/cmdline") as f:
            assert f.read().split("\0")[1:3] == ["--serial", "AA:BB:CC:DD:EE:FF"]
        with open(f"/proc/{pid}/environ") as f:
            assert "XDG_ACTIVATION_TOKEN=token-1" in f.read().split("\0")
        assert care.process.poll() is None
    finally:
        for pid in opened:
            if pid:
                try:
                    os.kill(pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        care.stop()
        panel.stop()
