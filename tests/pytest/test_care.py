# Battery care with no window, as a session runs it: a private session bus with a notification
# service that records every notice and can play a click (python3-dbusmock's), UPower's mock
# with a headset on a private system bus, and a simulated phone whose battery changes.
import os
import signal
import subprocess
import time

import dbus

from conftest import DEVICE_INFO, SOURCE, wait_until
from session_desktop import NOTIFICATIONS, Process, desktop, notices, owner_pid, settings, texts  # noqa: F401

import sys
sys.path.insert(0, f"{SOURCE}/tools/device_sim")
from peripherals import HEADSET, Bus, add  # noqa: E402

def test_every_battery_is_watched_with_no_window_and_nothing_is_said_twice(desktop, lab, home):
    notify, upower = desktop
    phone = lab.phone("current_phone")
    for line in ("set battery.level 85", "set battery.charging 1"):
        assert phone.control(line) == "ok"
    headset = add(upower, "headset_dev_AA", dict(HEADSET, Percentage=12.0))
    settings(home, lowPercent=20, intervalSeconds=10)
    care = Process(home, "--care")
    window = opened = None
    try:
        # The headset low at once; the phone charging above 80 % is nothing yet.
        low = "Evolve2 65 is down to 12%"
        assert wait_until(lambda: low in texts(notify), 15), (texts(notify), care.said())
        assert notices(notify)[0] == (0, low, 1, ["default", "Show the device"])
        # The limit turned on while it runs: heard within one interval.
        settings(home, chargedPercent=80, lowPercent=20, intervalSeconds=10)
        # Named as the window's title names it: its owner's name, not adb's model.
        charged = "Lab-07 reached 85% — unplug it to spare the battery"
        assert wait_until(lambda: charged in texts(notify), 15), (texts(notify), care.said())

        # Ended, it says so within a second.
        status, seconds = care.stop()
        assert status == 0 and seconds < 1, (status, seconds, care.said())
        # A window on the headset takes over, and does not repeat what the watcher said; a
        # watcher started again takes over from it, and repeats nothing either.
        window = Process(home, "--serial", "AA:BB:CC:DD:EE:FF")
        connected = "Connected to Evolve2 65"
        assert wait_until(lambda: connected in window.said()), window.said()
        reads = phone.control("count")
        care = Process(home, "--care")
        assert wait_until(lambda: phone.control("count") != reads, 15)
        second = subprocess.run([DEVICE_INFO, "--care"], env=home, capture_output=True, text=True,
                                timeout=20)
        assert (second.returncode, second.stderr) == (
            0, "device-info: battery care already keeps watch in this session\n"), second
        phone.control("set battery.charging 0")
        phone.control("set battery.level 15")
        phone_low = "Lab-07 is down to 15%"
        assert wait_until(lambda: phone_low in texts(notify), 25), texts(notify)
        # Both see the headset charged; one says so.
        upower.SetDeviceProperties(headset, dbus.Dictionary(
            {"Percentage": 90.0, "State": dbus.UInt32(1)}, signature="sv"))
        headset_charged = "Evolve2 65 reached 90% — unplug it to spare the battery"
        # As UPower says it, not at the next round.
        assert wait_until(lambda: headset_charged in texts(notify), 5), texts(notify)
        time.sleep(2)  # what a second notifier would have said by now
        assert texts(notify) == [low, charged, phone_low, headset_charged], (
            care.said(), window.said())

        # A click on the phone's notice turns the window to the phone.
        notify.EmitSignal(NOTIFICATIONS, "ActionInvoked", "us", [dbus.UInt32(3), "default"])
        assert wait_until(lambda: "Connected to Pixel 7a" in window.said(), 15), window.said()
        window.stop()
        # With no window, a click on the headset's opens one on it.
        notify.EmitSignal(NOTIFICATIONS, "ActionInvoked", "us", [dbus.UInt32(4), "default"])
        pid = wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo"), 15)
        assert pid, care.said()
        opened = pid
        with open(f"/proc/{pid}/cmdline") as f:
            assert f.read().split("\0")[1:3] == ["--serial", "AA:BB:CC:DD:EE:FF"]
    finally:
        if opened:
            os.kill(opened, signal.SIGTERM)
        for process in (care, window):
            if process and process.process.poll() is None:
                process.stop()


def test_a_session_bus_gone_ends_the_watcher_before_it_keeps_anything_as_said(desktop, home):
    notify, upower = desktop
    headset = add(upower, "headset_dev_AA", dict(HEADSET, Percentage=50.0))
    settings(home, lowPercent=20)
    care = Process(home, "--care")
    try:
        assert wait_until(lambda: owner_pid("org.deviceinfo.DeviceInfo.Care"), 15), care.said()
        os.kill(Bus.session_bus_pid, signal.SIGTERM)
        # At once, though nothing is read meanwhile (the next round is a minute away)...
        assert care.process.wait(5) == 1, care.said()
        # ...and before a reading due then is kept as said.
        upower.SetDeviceProperties(headset, dbus.Dictionary({"Percentage": 10.0}, signature="sv"))
        assert "device-info: the session bus went away: battery care ends\n" in care.said()
        state = f"{home['XDG_STATE_HOME']}/device-info/care-state.json"
        assert not os.path.exists(state) or "down to" not in open(state).read()
    finally:
        if care.process.poll() is None:
            care.stop()
