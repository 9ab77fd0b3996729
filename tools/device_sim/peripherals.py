#!/usr/bin/python3
# Simulated peripherals for Device Info: python3-dbusmock's UPower on a private bus that stands
# for the system bus, with a headset, a mouse that gives only a coarse level and a UPS, beside
# the computer's own battery and mains. Prints "DBUS_SYSTEM_BUS_ADDRESS=..." once they are
# there, then keeps them until SIGTERM or SIGINT.
#   peripherals.py [COUNT]   COUNT headsets in place of the three (for a benchmark); then
#                            SIGUSR1 changes the charge of every one at once; without COUNT,
#                            SIGUSR1 has the UPS lose its mains or have them back, its rate
#                            following, and SIGUSR2 takes the headset away
import os
import signal
import subprocess
import sys

import dbus
import dbusmock

DEVICES = "/org/freedesktop/UPower/devices/"

# As UPower shows a Bluetooth headset (BlueZ's battery service), a Logitech mouse (HID++, a
# level only) and an APC UPS (its USB HID power device).
HEADSET = {"Type": dbus.UInt32(17), "PowerSupply": False, "Model": "Evolve2 65",
           "Vendor": "Jabra", "Serial": "AA:BB:CC:DD:EE:FF",
           "NativePath": "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF", "Percentage": 57.0,
           "State": dbus.UInt32(2), "TimeToEmpty": dbus.Int64(7200), "IsPresent": True,
           "BatteryLevel": dbus.UInt32(1)}
MOUSE = {"Type": dbus.UInt32(5), "PowerSupply": False, "Vendor": "Logitech",
         "NativePath": "hidpp_battery_0", "Percentage": 55.0, "BatteryLevel": dbus.UInt32(6),
         "State": dbus.UInt32(2), "IsPresent": True}
UPS = {"Type": dbus.UInt32(3), "PowerSupply": True, "Model": "Back-UPS ES 700",
       "Vendor": "APC", "Serial": "4B1925P12345", "Percentage": 100.0,
       "State": dbus.UInt32(4), "TimeToEmpty": dbus.Int64(2400), "IsPresent": True,
       "EnergyRate": 0.0, "Voltage": 13.6}
# What UPower's rate is in each state of the UPS: the load it carries on battery, what it
# charges at when its mains come back. Always positive: the state says which way.
UPS_ON_BATTERY = {"State": dbus.UInt32(2), "EnergyRate": 38.5, "Percentage": 96.0}
UPS_CHARGING = {"State": dbus.UInt32(1), "EnergyRate": 12.0}


def add(mock, name, properties):
    """Adds a device at DEVICES + NAME, as UPower does: its object, then DeviceAdded."""
    path = DEVICES + name
    mock.AddObject(path, "org.freedesktop.UPower.Device",
                   dbus.Dictionary(properties, signature="sv"), [])
    mock.EmitSignal("org.freedesktop.UPower", "DeviceAdded", "o", [dbus.ObjectPath(path)])
    return path


class Bus(dbusmock.DBusTestCase):
    pass


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    Bus.start_system_bus()
    server, proxy = Bus.spawn_server_template("upower", {}, stdout=subprocess.DEVNULL)
    mock = dbus.Interface(proxy, dbusmock.MOCK_IFACE)
    mock.AddAC("ac", "Mains")
    mock.AddDischargingBattery("BAT0", "The computer's own", 80.0, 7200)
    if count:
        paths = [add(mock, f"headset_{n}", dict(HEADSET, Serial=f"AA:BB:CC:00:00:{n:02X}",
                                                 Percentage=float(n % 100)))
                 for n in range(count)]
        charge = [50.0]

        def change_all(*_):
            charge[0] = 100.0 - charge[0]
            for path in paths:
                mock.SetDeviceProperties(path, dbus.Dictionary(
                    {"Percentage": charge[0]}, signature="sv"))
            print("changed", flush=True)

        signal.signal(signal.SIGUSR1, change_all)
    else:
        headset = add(mock, "headset_dev_AA", HEADSET)
        add(mock, "mouse_dev_1", MOUSE)
        ups = add(mock, "ups_hiddev0", UPS)
        on_battery = [False]

        def mains(*_):
            on_battery[0] = not on_battery[0]
            mock.SetDeviceProperties(ups, dbus.Dictionary(
                UPS_ON_BATTERY if on_battery[0] else UPS_CHARGING, signature="sv"))

        signal.signal(signal.SIGUSR1, mains)
        # SIGUSR2: the headset goes, as when it is switched off.
        signal.signal(signal.SIGUSR2, lambda *_: mock.RemoveDevice(headset))
    print("DBUS_SYSTEM_BUS_ADDRESS=" + os.environ["DBUS_SYSTEM_BUS_ADDRESS"], flush=True)
    for ending in (signal.SIGTERM, signal.SIGINT):
        signal.signal(ending, lambda *_: sys.exit(0))
    try:
        while True:
            signal.pause()
    finally:
        server.terminate()
        server.wait()
        Bus.stop_dbus(Bus.system_bus_pid)


if __name__ == "__main__":
    main()
