# The panel, the status bar and the window as a Wayland desktop shows them: a headless sway
# (WLR_BACKENDS=headless) with real Waybar as its panel, whose tray takes the watcher's item and
# whose custom module runs --follow --waybar; the window opened from the item's menu, natively;
# Copy all read back with wl-paste; screenshots with grim. sway refuses to run as root: CTest
# runs this file through run_unprivileged.sh, which drops to nobody when it is root.
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

import dbus
import pytest

from conftest import DEVICE_INFO, wait_until
from session_desktop import Process, settings
from peripherals import HEADSET, MOUSE, UPS, Bus, add

import dbusmock

TOOLS = ("sway", "waybar", "swaymsg", "grim", "wl-paste", "wtype")
pytestmark = pytest.mark.skipif(not all(shutil.which(t) for t in TOOLS),
                                reason="sway, waybar, grim, wl-clipboard or wtype is missing")
APP_ID = "org.deviceinfo.DeviceInfo"
WATCHER = "org.kde.StatusNotifierWatcher"
# The module's colour for each class, as a bar's style would set them: the screenshot tells
# which class Waybar took.
CLASS_COLOURS = {"low": (255, 200, 80), "ok": (200, 230, 200), "critical": (240, 80, 80)}
BAR_HEIGHT = 32

WAYBAR_CONFIG = {
    "layer": "top", "position": "top", "height": BAR_HEIGHT,
    "modules-left": ["custom/devices"], "modules-right": ["tray"],
    "custom/devices": {"exec": f"{DEVICE_INFO} --follow --waybar", "return-type": "json",
                      "format": "{}", "tooltip": True},
    "tray": {"icon-size": 24, "spacing": 8},
}
WAYBAR_STYLE = "* { font-family: sans-serif; font-size: 13px; }\n" + "".join(
    f"#custom-devices.{name} {{ background: rgb{colour}; color: black; padding: 0 8px; }}\n"
    for name, colour in CLASS_COLOURS.items())


class Sway:
    """A headless sway with Waybar, its session bus, and UPower's mock as its system bus."""

    def __init__(self, home, folder):
        self.folder = folder
        # 0700, as logind makes it; short, as a socket's path must be.
        self.runtime = runtime = tempfile.mkdtemp(prefix="rt-")
        self.session_bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, text=True)
        address = self.session_bus.stdout.readline().strip()
        Bus.start_system_bus()
        self.upower_server, proxy = Bus.spawn_server_template("upower", {},
                                                              stdout=subprocess.DEVNULL)
        self.upower = dbus.Interface(proxy, dbusmock.MOCK_IFACE)
        self.env = {k: v for k, v in home.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SWAYSOCK")}
        self.env.update(XDG_RUNTIME_DIR=runtime, DBUS_SESSION_BUS_ADDRESS=address,
                        DBUS_SYSTEM_BUS_ADDRESS=os.environ["DBUS_SYSTEM_BUS_ADDRESS"],
                        XDG_CONFIG_HOME=f"{folder}/config", XDG_STATE_HOME=f"{folder}/state",
                        XDG_DATA_HOME=f"{folder}/data", XDG_SESSION_TYPE="wayland",
                        XDG_CURRENT_DESKTOP="sway", WLR_BACKENDS="headless",
                        WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        os.makedirs(f"{folder}/config/device-info")
        with open(f"{folder}/waybar.json", "w") as f:
            json.dump(WAYBAR_CONFIG, f)
        with open(f"{folder}/waybar.css", "w") as f:
            f.write(WAYBAR_STYLE)
        with open(f"{folder}/sway.conf", "w") as f:
            f.write("output HEADLESS-1 resolution 1024x640 background #404040 solid_color\n"
                    f"exec waybar -c {folder}/waybar.json -s {folder}/waybar.css\n")
        self.log = open(f"{folder}/sway.log", "wb")
        self.sway = subprocess.Popen(["sway", "-c", f"{folder}/sway.conf"], env=self.env,
                                     stdout=self.log, stderr=subprocess.STDOUT)
        sockets = wait_until(lambda: [n for n in os.listdir(runtime) if n.startswith("sway-ipc")]
                             and [n for n in os.listdir(runtime) if n.startswith("wayland-")
                                  and not n.endswith(".lock")], 15)
        assert sockets, self.said()
        self.env["SWAYSOCK"] = f"{runtime}/" + next(
            n for n in os.listdir(runtime) if n.startswith("sway-ipc"))
        self.env["WAYLAND_DISPLAY"] = sockets[0]

    def said(self):
        with open(f"{self.folder}/sway.log", encoding="utf-8", errors="replace") as f:
            return f.read()[-3000:]

    def run(self, *command):
        return subprocess.run(command, env=self.env, capture_output=True, timeout=15)

    def bus(self):
        return dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])

    def tree_nodes(self):
        def walk(node):
            yield node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                yield from walk(child)
        return list(walk(json.loads(self.run("swaymsg", "-t", "get_tree").stdout)))

    def shot(self, path=None):
        """The screen: its width and height, and a function from (x, y) to (r, g, b)."""
        raw = self.run("grim", "-t", "ppm", "-").stdout
        # A binary PPM: "P6\nW H\n255\n" and the pixels.
        header, width, height, _, pixels = raw.split(maxsplit=4)
        assert header == b"P6"
        width, height = int(width), int(height)
        if path:
            self.run("grim", path)
        return width, height, lambda x, y: tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3])

    def close(self):
        for process in (self.sway, self.session_bus, self.upower_server):
            process.terminate()
            process.wait(10)
        self.log.close()
        shutil.rmtree(self.runtime, ignore_errors=True)
        Bus.stop_dbus(Bus.system_bus_pid)
        del os.environ["DBUS_SYSTEM_BUS_ADDRESS"]


@pytest.fixture
def sway(lab, home, tmp_path):
    # The lab's adb server, which ends with the test: a window finding none would start one of
    # its own that outlives it.
    started = Sway(home, str(tmp_path))
    yield started
    started.close()


def colours_in_bar(shot):
    width, _, pixel = shot
    return {pixel(x, y) for x in range(width) for y in range(BAR_HEIGHT)}


def test_waybar_shows_the_item_and_the_module_and_the_window_opens_natively(sway, home):
    headset = add(sway.upower, "headset_dev_AA", dict(HEADSET, Percentage=12.0))
    add(sway.upower, "mouse_dev_1", MOUSE)
    add(sway.upower, "ups_hiddev0", UPS)
    settings(sway.env, panel=True, intervalSeconds=10)
    care = Process(sway.env, "--care")
    window = None
    try:
        # Waybar's own watcher holds the item.
        def registered():
            try:
                watcher = sway.bus().get_object(WATCHER, "/StatusNotifierWatcher")
                items = watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                    dbus_interface=dbus.PROPERTIES_IFACE)
            except dbus.DBusException:  # Waybar not up yet
                return []
            return [str(i) for i in items if "StatusNotifierItem-" in str(i)]
        assert wait_until(registered, 20), (care.said(), sway.said())
        # The module takes the low headset's class, the tray draws its amber battery.
        amber = (240, 160, 0)
        assert wait_until(lambda: {CLASS_COLOURS["low"], amber} <= colours_in_bar(sway.shot()),
                          15), (care.said(), sway.said())
        shots = os.environ.get("DEVICE_INFO_SHOTS")
        sway.upower.SetDeviceProperties(headset, dbus.Dictionary({"Percentage": 57.0},
                                                                 signature="sv"))
        assert wait_until(lambda: CLASS_COLOURS["ok"] in colours_in_bar(sway.shot()), 10)

        # A row of the item's menu, as Waybar's menu sends it: the window, natively on sway.
        service = registered()[0].split("/")[0]
        menu = sway.bus().get_object(service, "/MenuBar")
        _, (_, _, rows) = menu.GetLayout(0, -1, [], dbus_interface="com.canonical.dbusmenu")
        headset_row = next(int(r[0]) for r in rows if str(r[1].get("label", "")).startswith(
            "Evolve2 65"))
        menu.Event(headset_row, "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
                   dbus_interface="com.canonical.dbusmenu")

        def shown():
            return [n for n in sway.tree_nodes() if n.get("app_id") == APP_ID
                    and n.get("name") == "Device Info (Evolve2 65)"]
        nodes = wait_until(shown, 20)
        assert nodes, (care.said(), sway.said())
        node = nodes[0]
        # Fixed in size, so a tiling compositor floats it; focused, as a new window is.
        assert (node["type"], node["focused"]) == ("floating_con", True), node
        assert (node["window_rect"]["width"], node["window_rect"]["height"]) == (411, 365), node

        # Copy all (Ctrl+C with nothing selected) reaches the Wayland clipboard.
        def copied():
            # wtype's keyboard is new each time: the window is given a moment to take it as its
            # own before the keys, and they are pressed again where it was not enough.
            assert sway.run("wtype", "-s", "400", "-M", "ctrl", "c", "-m", "ctrl").returncode == 0
            return sway.run("wl-paste", "-n").stdout.decode()
        pasted = wait_until(copied, 10, 0.5)
        assert pasted.startswith("Device Info (Evolve2 65)\n"), pasted
        assert "Battery Life (%)" in pasted
        if shots:
            time.sleep(0.5)  # the window's first frame after the paste
            sway.shot(f"{shots}/panel-waybar.png")
        window = wait_until(lambda: [int(p) for p in os.listdir("/proc") if p.isdigit()
                                     and open(f"/proc/{p}/cmdline", "rb").read().startswith(
                                         DEVICE_INFO.encode() + b"\0--serial")], 5)
    finally:
        for pid in window or []:
            os.kill(pid, signal.SIGTERM)
        if care.process.poll() is None:
            care.stop()
