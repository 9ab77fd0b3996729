# The built program driven from outside, as a lab drives it: certificates made by openssl, a
# private adb server with simulated phones, and the exporter started, scraped and stopped.
import crypt
import os
import re
import signal
import socket
import subprocess
import time
import warnings

import pytest
import requests

DEVICE_INFO = os.environ.get("DEVICE_INFO_EXE", "device-info")
DEVICE_SIM = os.environ.get("DEVICE_SIM_EXE", "device-sim")
SOURCE = os.environ.get("DEVICE_INFO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "../.."))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(done, seconds=10.0, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = done()
        if value:
            return value
        time.sleep(step)
    return done()


def bcrypt(password, cost=4):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        return crypt.crypt(password, crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=2**cost))


@pytest.fixture(scope="session")
def tls(tmp_path_factory):
    """A lab's CA and this computer's certificate, as files in one folder."""
    folder = tmp_path_factory.mktemp("tls")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30"]
    (folder / "server.ext").write_text("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    for arguments in (["req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.crt", "-subj", "/CN=CA"],
                      ["req", *ec[:-2], "-keyout", "server.key", "-out", "server.csr", "-subj",
                       "/CN=lab-01"],
                      ["x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                       "-CAcreateserial", "-out", "server.crt", "-days", "30", "-extfile",
                       "server.ext"]):
        subprocess.run(["openssl", *arguments], cwd=folder, check=True, capture_output=True)
    return folder


def session(ca=None):
    """A client that trusts CA alone, whatever the environment says."""
    client = requests.Session()
    client.trust_env = False
    client.verify = str(ca) if ca else True
    return client


class Exporter:
    """device-info --serve, with its standard error kept; where it serves is read from it."""

    def __init__(self, arguments, env):
        self.stderr_path = env["HOME"] + f"/exporter-{time.monotonic_ns()}.log"
        self.log = open(self.stderr_path, "wb")
        self.process = subprocess.Popen([DEVICE_INFO, "--serve", *arguments], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        serving = wait_until(lambda: re.findall(r"serving metrics at (https?)://([^ ]+?)/metrics",
                                                self.stderr()))
        assert serving, self.stderr()
        self.urls = [f"{scheme}://{where}" for scheme, where in serving]
        self.url = self.urls[0]

    def stderr(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(10)
        finally:
            self.log.close()


@pytest.fixture
def home(tmp_path):
    env = dict(os.environ)
    env["HOME"] = str(tmp_path)
    # No phone, no iPhone and no adb server of this computer: only those a test gives.
    env["ADB_SERVER_SOCKET"] = f"tcp:127.0.0.1:{free_port()}"
    # libusbmuxd's listener aborts on a refused TCP address; a socket file that is not there is
    # a computer without usbmuxd.
    env["USBMUXD_SOCKET_ADDRESS"] = f"UNIX:{tmp_path}/no-usbmuxd"
    env.pop("ANDROID_SERIAL", None)
    return env


@pytest.fixture
def serve(home):
    started = []

    def start(*arguments):
        exporter = Exporter(list(arguments), home)
        started.append(exporter)
        return exporter

    yield start
    for exporter in started:
        exporter.stop(signal.SIGKILL)


class Lab:
    """A private adb server, and simulated phones connected to it."""

    def __init__(self, home):
        self.port = free_port()
        self.env = home
        self.env["ADB_SERVER_SOCKET"] = f"tcp:127.0.0.1:{self.port}"
        self.server = subprocess.Popen(["adb", "-P", str(self.port), "nodaemon", "server"],
                                       env=home, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        self.phones = []
        assert wait_until(lambda: self.adb("devices").returncode == 0, 15), "no adb server"

    def adb(self, *arguments):
        return subprocess.run(["adb", "-P", str(self.port), *arguments], env=self.env,
                              capture_output=True, text=True, timeout=10)

    def phone(self, profile):
        """A simulated phone of PROFILE, connected; its control is phone.control(LINE)."""
        sim = subprocess.Popen([DEVICE_SIM, f"{SOURCE}/tools/device_sim/profiles/{profile}.json"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        port = int(sim.stdout.readline().split()[-1])
        sim.serial = f"127.0.0.1:{port}"

        def control(line):
            sim.stdin.write(line + "\n")
            sim.stdin.flush()
            return sim.stdout.readline().strip()

        sim.control = control
        self.phones.append(sim)
        assert "connected" in self.adb("connect", sim.serial).stdout
        return sim

    def close(self):
        for process in [*self.phones, self.server]:
            process.kill()
            process.wait()


@pytest.fixture
def lab(home):
    started = Lab(home)
    yield started
    started.close()
