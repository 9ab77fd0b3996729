# A desktop session of the test's own, for the faces that live in one: a private session bus with
# a notification service that records every notice and can play a click (python3-dbusmock's),
# UPower's mock on a private system bus, and device-info started in it.
import os
import signal
import subprocess
import sys
import time

import dbus
import dbusmock
import pytest

from conftest import DEVICE_INFO, SOURCE

sys.path.insert(0, f"{SOURCE}/tools/device_sim")
from peripherals import Bus  # noqa: E402

NOTIFICATIONS = "org.freedesktop.Notifications"


@pytest.fixture
def desktop(home, lab, tmp_path):
    """A session and a system bus of the test's own, a notification service and UPower."""
    Bus.start_session_bus()
    Bus.start_system_bus()
    notifier, notifier_proxy = Bus.spawn_server_template("notification_daemon", {},
                                                         stdout=subprocess.DEVNULL)
    upower, upower_proxy = Bus.spawn_server_template("upower", {}, stdout=subprocess.DEVNULL)
    home.update(DBUS_SESSION_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"],
                DBUS_SYSTEM_BUS_ADDRESS=os.environ["DBUS_SYSTEM_BUS_ADDRESS"],
                XDG_CONFIG_HOME=str(tmp_path / "config"), XDG_STATE_HOME=str(tmp_path / "state"),
                QT_QPA_PLATFORM="offscreen")
    home.pop("DISPLAY", None)
    home.pop("WAYLAND_DISPLAY", None)
    (tmp_path / "config/device-info").mkdir(parents=True)
    yield (dbus.Interface(notifier_proxy, dbusmock.MOCK_IFACE),
           dbus.Interface(upower_proxy, dbusmock.MOCK_IFACE))
    for server in (notifier, upower):
        server.terminate()
        server.wait()
    Bus.stop_dbus(Bus.session_bus_pid)
    Bus.stop_dbus(Bus.system_bus_pid)
    del os.environ["DBUS_SESSION_BUS_ADDRESS"], os.environ["DBUS_SYSTEM_BUS_ADDRESS"]


def settings(home, panel=None, **limits):
    text = "[notifications]\n" + "".join(f"{key}={value}\n" for key, value in limits.items())
    if panel is not None:
        text += f"[panel]\nshow={int(panel)}\n"
    path = f"{home['XDG_CONFIG_HOME']}/device-info/device-info.conf"
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


class Process:
    """device-info with ARGUMENTS, its standard error kept."""

    def __init__(self, home, *arguments):
        self.log_path = f"{home['HOME']}/{'-'.join(a.strip('-') for a in arguments) or 'window'}" \
                        f"-{time.monotonic_ns()}.log"
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen([DEVICE_INFO, *arguments], env=home,
                                        stdout=subprocess.DEVNULL, stderr=self.log)

    def said(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        start = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(10)
        self.log.close()
        return status, time.monotonic() - start


def notices(mock):
    """Each Notify: (replaces, text, urgency, actions)."""
    return [(int(args[1]), str(args[3]), int(args[6]["urgency"]), [str(a) for a in args[5]])
            for _, method, args in mock.GetCalls() if method == "Notify"]


def texts(mock):
    return [text for _, text, _, _ in notices(mock)]


def owner_pid(name):
    bus = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
    daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
    try:
        return int(daemon.GetConnectionUnixProcessID(name, dbus_interface="org.freedesktop.DBus"))
    except dbus.DBusException:
        return None


