# The exporter as a lab runs it and as an attacker tries it: a flood of wrong passwords, the
# sockets systemd passes, more than one address, readiness, and a prompt end.
import shutil
import signal
import socket
import subprocess
import threading
import time
import uuid

import requests

from conftest import bcrypt, free_port, session, wait_until


def web_config(tls, home, users):
    path = f"{home['HOME']}/web.yml"
    with open(path, "w") as f:
        f.write(f"tls_server_config:\n  cert_file: {tls}/server.crt\n  key_file: {tls}/server.key\n"
                "basic_auth_users:\n")
        for name, hash in users.items():
            f.write(f"  {name}: '{hash}'\n")
    return path


# bcrypt at cost 14 takes about a second here: a scrape that waited for one would show it. The
# scraper's password is checked once; then 8 clients send passwords never tried, and the scrape
# is answered in a small part of that second each time. 300 wrong passwords of another user
# later, it is still remembered.
def test_a_flood_of_wrong_passwords_never_stalls_a_remembered_scrape(tls, home, serve):
    start = time.monotonic()
    slow = bcrypt("s3cret", 14)
    bcrypt_seconds = time.monotonic() - start
    config = web_config(tls, home, {"prometheus": slow, "lab": bcrypt("lab", 4)})
    exporter = serve("127.0.0.1:0", "--web-config", config)
    url = exporter.url + "/metrics"
    scraper = session(tls / "ca.crt")
    assert scraper.get(url, auth=("prometheus", "s3cret")).status_code == 200

    stop = threading.Event()
    answers = {}

    def flood():
        client = session(tls / "ca.crt")
        while not stop.is_set():
            status = client.get(url, auth=("prometheus", uuid.uuid4().hex)).status_code
            answers[status] = answers.get(status, 0) + 1

    clients = [threading.Thread(target=flood) for _ in range(8)]
    for client in clients:
        client.start()
    slowest = 0.0
    try:
        for _ in range(30):
            start = time.monotonic()
            assert scraper.get(url, auth=("prometheus", "s3cret")).status_code == 200
            slowest = max(slowest, time.monotonic() - start)
            time.sleep(0.05)
    finally:
        stop.set()
        for client in clients:
            client.join()
    assert slowest < bcrypt_seconds / 3, (slowest, bcrypt_seconds)
    # One address waits for one check at a time: the rest of its requests are told to wait.
    assert answers.get(401, 0) >= 1 and answers.get(429, 0) >= 1, answers

    wrong = session(tls / "ca.crt")
    for n in range(300):
        assert wrong.get(url, auth=("lab", f"guess-{n}")).status_code == 401
    start = time.monotonic()
    assert scraper.get(url, auth=("prometheus", "s3cret")).status_code == 200
    assert time.monotonic() - start < bcrypt_seconds / 3, "the scrape is still remembered"


# A burst of 3, then a token a second: a fourth request at once is told to wait, and one more
# goes through a second later.
def test_rate_limit_answers_429_before_any_password_is_checked(tls, home, serve):
    config = web_config(tls, home, {"prometheus": bcrypt("s3cret")})
    with open(config, "a") as f:
        f.write("rate_limit:\n  interval: 1s\n  burst: 3\n")
    exporter = serve("127.0.0.1:0", "--web-config", config)
    client = session(tls / "ca.crt")
    statuses = lambda n, password="s3cret": [
        client.get(exporter.url + "/metrics", auth=("prometheus", password)) for _ in range(n)]
    answers = statuses(4, "wrong")
    assert [a.status_code for a in answers] == [401, 401, 401, 429]
    assert answers[-1].text == "Too Many Requests\n"
    time.sleep(1.2)
    assert [a.status_code for a in statuses(2)] == [200, 429]


# systemd holds the port and starts the exporter at the first connection; the exporter serves
# what it was passed, in place of --serve's address.
# It tells systemd it is ready once its first round is read.
def test_the_sockets_systemd_passes_are_served(home):
    port = free_port()
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    home["NOTIFY_SOCKET"] = f"{home['HOME']}/notify"
    notify.bind(home["NOTIFY_SOCKET"])
    notify.settimeout(10)
    launcher = subprocess.Popen(
        [shutil.which("systemd-socket-activate"), "-l", f"127.0.0.1:{port}",
         "--setenv=HOME", "--setenv=ADB_SERVER_SOCKET", "--setenv=USBMUXD_SOCKET_ADDRESS",
         "--setenv=NOTIFY_SOCKET", __import__("conftest").DEVICE_INFO, "--serve", "127.0.0.1:9"],
        env=home, stderr=subprocess.PIPE, text=True)
    try:
        answer = wait_until(lambda: _get(f"http://127.0.0.1:{port}/-/healthy"), 10)
        assert answer is not None and answer.status_code == 200
        assert answer.text == "Device Info exporter is healthy.\n"
        assert notify.recv(256) == b"READY=1"
        assert _get(f"http://127.0.0.1:{port}/-/ready").status_code == 200
        assert "device_info_build_info{version=" in _get(f"http://127.0.0.1:{port}/metrics").text
    finally:
        launcher.send_signal(signal.SIGTERM)
        launcher.wait(10)
    said = launcher.stderr.read()
    assert (f"serving metrics at http://127.0.0.1:{port}/metrics (a socket from systemd), "
            "reading every 30 s\n") in said, said


def _get(url):
    try:
        return session().get(url, timeout=2)
    except requests.RequestException:
        return None


# Two --serve addresses are both served; /-/ready says 503 until the first round of reads is
# over (a slow phone's battery dump takes 1.5 s), then 200.
def test_each_address_is_served_and_ready_follows_the_first_round(lab, serve):
    lab.phone("slow_phone")
    exporter = serve("127.0.0.1:0", "--serve", "127.0.0.2:0", "--interval", "60")
    client = session()
    assert len(exporter.urls) == 2
    first = client.get(exporter.urls[1] + "/-/ready")
    assert (first.status_code, first.text) == (
        503, "Device Info exporter is not ready: its first round of reads is under way.\n")
    assert wait_until(lambda: client.get(exporter.url + "/-/ready").status_code == 200)
    for url in exporter.urls:
        assert client.get(url + "/-/ready").text == "Device Info exporter is ready.\n"
        assert client.get(url + "/-/healthy").status_code == 200


# SIGTERM in the middle of a read that ends about 100 ms later (the slow phone's 1.5 s battery
# dump, begun when it started serving): the exporter ends soon after that read, with 0.
def test_sigterm_during_a_read_ends_soon_after_the_read(lab, serve):
    lab.phone("slow_phone")
    exporter = serve("127.0.0.1:0", "--interval", "60")
    served = time.monotonic()
    time.sleep(max(0.0, served + 1.4 - time.monotonic()))
    start = time.monotonic()
    assert exporter.stop() == 0
    ended = time.monotonic() - start
    assert ended < 0.6, ended
    assert exporter.stderr().endswith("device-info: stopped\n")


# --connect: an address that cannot be reached is 0 in a series of its own, said once, and
# tried less and less often; one that answers is 1.
def test_connect_keeps_wifi_addresses_and_says_once_what_cannot_be_reached(lab, serve):
    phone = lab.phone("current_phone")
    lab.adb("disconnect", phone.serial)
    dead = f"127.0.0.1:{free_port()}"
    exporter = serve("127.0.0.1:0", "--interval", "1", "--connect", phone.serial,
                     "--connect", dead)
    metrics = lambda: session().get(exporter.url + "/metrics").text
    assert wait_until(lambda: f'device_info_wifi_connected{{address="{phone.serial}"}} 1'
                      in metrics()), metrics()
    assert f'device_info_wifi_connected{{address="{dead}"}} 0' in metrics()
    assert wait_until(lambda: phone.serial in lab.adb("devices").stdout)
    time.sleep(4)
    said = exporter.stderr()
    assert said.count(f"device-info: {dead} refused") == 1, said
