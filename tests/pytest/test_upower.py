# Every battery the desktop knows, through UPower on a private bus standing for the system bus
# (python3-dbusmock's upower template, as GNOME tests its own clients): devices added, changed,
# removed and added again, with the script, the exporter and the window following each, and
# the computer's own battery and mains never listed; then no UPower, and no bus.
import os
import re
import subprocess
import sys
import time

import dbus
import dbusmock
import pytest

from conftest import DEVICE_INFO, SOURCE, session, wait_until

sys.path.insert(0, f"{SOURCE}/tools/device_sim")
from peripherals import HEADSET, MOUSE, Bus, add  # noqa: E402


@pytest.fixture
def upower(home):
    Bus.start_system_bus()
    server, proxy = Bus.spawn_server_template("upower", {}, stdout=subprocess.DEVNULL)
    mock = dbus.Interface(proxy, dbusmock.MOCK_IFACE)
    home["DBUS_SYSTEM_BUS_ADDRESS"] = os.environ["DBUS_SYSTEM_BUS_ADDRESS"]
    yield mock, server
    server.terminate()
    server.wait()
    Bus.stop_dbus(Bus.system_bus_pid)
    del os.environ["DBUS_SYSTEM_BUS_ADDRESS"]


def script(env, *arguments):
    start = time.monotonic()
    ran = subprocess.run([DEVICE_INFO, *arguments], env=env, capture_output=True, text=True,
                         timeout=20)
    ran.seconds = time.monotonic() - start
    return ran


def test_peripherals_come_change_go_and_come_back_everywhere(upower, home, serve, tmp_path):
    mock, server = upower
    mock.AddAC("ac", "Wall adapter")
    mock.AddDischargingBattery("BAT0", "Laptop battery", 80.0, 7200)
    window_log = open(tmp_path / "window.log", "w")
    window = subprocess.Popen([DEVICE_INFO], env=dict(home, QT_QPA_PLATFORM="offscreen"),
                              stdout=subprocess.DEVNULL, stderr=window_log)
    exporter = serve("127.0.0.1:0", "--interval", "1")
    metrics = lambda: session().get(exporter.url + "/metrics").text
    said = lambda: "".join(line for line in open(tmp_path / "window.log")
                           if line.startswith("device-info:"))
    try:
        headset = add(mock, "headset_dev_AA", HEADSET)
        mouse = add(mock, "mouse_dev_1", MOUSE)
        connected = ("device-info: Connected to Evolve2 65 (AA:BB:CC:DD:EE:FF), a headset, "
                     "through UPower.\n")
        assert wait_until(lambda: connected in said()), said()
        listed = script(home, "--list")
        assert listed.stdout == ("AA:BB:CC:DD:EE:FF\tupower\tready\tEvolve2 65\tEvolve2 65\n"
                                 "hidpp_battery_0\tupower\tready\tLogitech mouse\t\n"), listed
        info = ('device_info_device_info{serial="AA:BB:CC:DD:EE:FF",kind="upower",state="ready",'
                'name="Evolve2 65",model="Evolve2 65",os_version="",type="headset",transport=""} 1')
        assert wait_until(lambda: info in metrics()), metrics()

        mock.SetDeviceProperties(headset, dbus.Dictionary(
            {"Percentage": 12.0, "State": dbus.UInt32(1)}, signature="sv"))
        charging = 'device_info_battery_charge_ratio{serial="AA:BB:CC:DD:EE:FF",kind="upower"} 0.12'
        assert wait_until(lambda: charging in metrics()), metrics()
        report = script(home, "--report", "--json", "--serial", "AA:BB:CC:DD:EE:FF")
        assert '"percent": 12' in report.stdout and '"charging": true' in report.stdout, report

        # Gone: the window moves to the mouse, then to nothing; back: it shows the headset again.
        mock.RemoveDevice(headset)
        assert wait_until(lambda: "Evolve2 65" not in script(home, "--list").stdout)
        assert wait_until(lambda: "AA:BB:CC:DD:EE:FF" not in metrics()), metrics()
        assert wait_until(lambda: "device-info: Connected to Logitech mouse" in said()), said()
        mock.RemoveDevice(mouse)
        none = "device-info: No headset, mouse, keyboard, controller or UPS is known to UPower.\n"
        assert wait_until(lambda: said().endswith(none)), said()
        add(mock, "headset_dev_AA", HEADSET)
        assert wait_until(lambda: said().count(connected) == 2), said()
        assert wait_until(lambda: info in metrics()), metrics()
        # The computer's own power is never a device of these.
        for everything in (said(), metrics(), script(home, "--report", "--json", "--all").stdout):
            assert "Laptop battery" not in everything and "Wall adapter" not in everything

        # UPower restarted, as by an upgrade: the window says it stopped, then lists anew.
        server.terminate()
        server.wait()
        assert wait_until(lambda: "device-info: UPower stopped on the system bus.\n" in said()), said()
        server, proxy = Bus.spawn_server_template("upower", {}, stdout=subprocess.DEVNULL)
        add(dbus.Interface(proxy, dbusmock.MOCK_IFACE), "headset_dev_AA", HEADSET)
        assert wait_until(lambda: said().count(connected) == 3), said()
    finally:
        window.terminate()
        window.wait(10)
        server.terminate()


def test_without_upower_or_a_bus_a_script_says_one_line_and_goes_on(upower, home, serve):
    mock, server = upower
    server.terminate()
    server.wait()
    exporter = serve("127.0.0.1:0", "--interval", "1")
    for bus, why in ((home["DBUS_SYSTEM_BUS_ADDRESS"],
                      r"UPower does not answer on the system bus \(.+\)"),
                     ("unix:path=/nonexistent/bus", r"No system bus to ask UPower on \(Failed to "
                      r"connect to socket /nonexistent/bus: No such file or directory\)")):
        listed = script(dict(home, DBUS_SYSTEM_BUS_ADDRESS=bus), "--list")
        assert listed.returncode == 0 and listed.stdout == ""
        lines = [line for line in listed.stderr.splitlines() if "UPower" in line]
        assert len(lines) == 1 and re.fullmatch(f"device-info: {why}", lines[0]), lines
        assert listed.seconds < 5

    # Back, UPower's devices are listed again, and the exporter says once that it answers.
    server, proxy = Bus.spawn_server_template("upower", {}, stdout=subprocess.DEVNULL)
    try:
        add(dbus.Interface(proxy, dbusmock.MOCK_IFACE), "headset_dev_AA", HEADSET)
        assert wait_until(lambda: 'serial="AA:BB:CC:DD:EE:FF"' in
                          session().get(exporter.url + "/metrics").text)
        said = exporter.stderr()
        assert re.search(r"device-info: UPower does not answer on the system bus \(.+\)\n", said)
        assert said.count("device-info: UPower answers again\n") == 1, said
    finally:
        server.terminate()


# Where UPower is built with its idevice backend, it lists a phone by the serial number another
# link knows it by: the phone is listed once, by that link.
def test_a_phone_upower_lists_too_is_left_to_its_own_link(upower, lab, home):
    mock, _ = upower
    phone = lab.phone("current_phone")
    assert phone.control("set prop.ro.serialno R58M123ABC") == "ok"
    add(mock, "phone_dev", dict(HEADSET, Type=dbus.UInt32(8), Model="iPhone",
                                Serial="R58M123ABC", NativePath="idevice_R58M123ABC"))
    add(mock, "headset_dev_AA", HEADSET)
    listed = script(home, "--list").stdout
    assert listed.count("R58M123ABC") == 1 and "R58M123ABC\tandroid\tready\t" in listed, listed
    assert "AA:BB:CC:DD:EE:FF\tupower\tready\tEvolve2 65\tEvolve2 65\n" in listed, listed
