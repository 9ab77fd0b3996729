# The exporter against clients that mean it harm, on loopback: clients that leave while their
# password is checked, pipelines never read, a web configuration written in place, and a user
# that does not exist behind a costly hash.
import base64
import os
import re
import socket
import time

from conftest import bcrypt, wait_until

GET = b"GET /metrics HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\n\r\n"


def auth(user, password):
    return base64.b64encode(f"{user}:{password}".encode())


def connect(exporter, source="127.0.0.1"):
    host, port = exporter.url.removeprefix("http://").rsplit(":", 1)
    client = socket.create_connection((host, int(port)), timeout=30, source_address=(source, 0))
    return client


def answers(client, count):
    """The status of the next COUNT answers on CLIENT, as they come; fewer where it closes."""
    got, statuses = b"", []
    while len(statuses) < count:
        head, sep, rest = got.partition(b"\r\n\r\n")
        # Until the blank line has come, the head may end halfway through its length.
        length = [int(line.split(b":")[1]) for line in head.split(b"\r\n")
                  if sep and line.lower().startswith(b"content-length:")]
        if length and len(rest) >= length[0]:
            statuses.append(int(head[9:12]))
            got = rest[length[0]:]
            continue
        chunk = client.recv(65536)
        if not chunk:
            break
        got += chunk
    return statuses


def get(exporter, path):
    with connect(exporter) as client:
        client.sendall(b"GET " + path + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        return client.recv(100)


def write_config(home, text):
    path = f"{home['HOME']}/web.yml"
    with open(path, "w") as f:  # in place, as an editor that does not rename
        f.write(text)
    return path


def rss_kib(exporter):
    with open(f"/proc/{exporter.process.pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


# Thirty-one clients leave while their checks wait or run (a user that does not exist, at the
# highest cost of the file, a second each), and one that pipelines a second request waits behind
# them: only the leavers' checks go, their places to the next, and both of its requests are
# answered; so is every request that comes later.
def test_clients_that_leave_mid_check_cost_no_later_request_its_answer(home, serve):
    users = f"basic_auth_users:\n  lab: '{bcrypt('s3cret', 10)}'\n  slow: '{bcrypt('x', 14)}'\n"
    exporter = serve("127.0.0.1:0", "--web-config", write_config(home, users))
    leaving = []
    for n in range(31):
        leaving.append(connect(exporter, f"127.0.0.{10 + n}"))
        leaving[-1].sendall(GET % auth("nobody", f"guess-{n}"))
    pipelining = connect(exporter, "127.0.0.9")
    pipelining.sendall(GET % auth("lab", "guess-a") + GET % auth("lab", "guess-b"))
    time.sleep(0.3)
    for client in leaving:
        client.close()
    assert answers(pipelining, 2) == [401, 401]
    statuses = []
    for _ in range(500):
        with connect(exporter) as client:
            client.sendall(GET % auth("lab", "s3cret"))
            statuses += answers(client, 1) or [None]
    assert statuses.count(200) == 500, {s: statuses.count(s) for s in set(statuses)}


# Four clients pipeline requests they never read: the exporter reads no more of them than one
# answer's worth, and each request is still answered once its client reads.
def test_pipelines_never_read_cost_no_memory_and_are_answered_in_turn(home, serve):
    exporter = serve("127.0.0.1:0")
    request = b"GET /devices.js HTTP/1.1\r\nHost: x\r\n\r\n"
    count = 60000 // len(request)
    # Once its first round is over, it is quiet; AddressSanitizer keeps what is freed back, and
    # an eighth more for its shadow of it.
    assert wait_until(lambda: b" 200 " in get(exporter, b"/-/ready"))
    kept = re.search(r"quarantine_size_mb=(\d+)", os.environ.get("ASAN_OPTIONS", ""))
    allowed = (8 + (int(kept.group(1)) * 9 / 8 if kept else 0)) * 1024
    before = rss_kib(exporter)
    clients = [connect(exporter) for _ in range(4)]
    for client in clients:
        client.sendall(request * count)
    time.sleep(2)
    assert rss_kib(exporter) - before < allowed, (before, rss_kib(exporter))
    for client in clients:
        assert answers(client, count) == [200] * count
        client.close()


# A file rewritten in place is read while only its first part is there: its passwords are not
# dropped for a moment, and the whole file is served once it is written.
def test_a_half_written_file_never_serves_without_its_passwords(home, serve):
    head = "http_server_config:\n  headers:\n    X-Frame-Options: deny\n"
    users = f"basic_auth_users:\n  lab: '{bcrypt('s3cret')}'\n"
    path = write_config(home, head + users)
    exporter = serve("127.0.0.1:0", "--web-config", path)
    with open(path, "w") as f:
        f.write(head)
        f.flush()
        time.sleep(1.5)
        statuses = []
        for _ in range(5):
            with connect(exporter) as client:
                client.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
                statuses += answers(client, 1)
        f.write(users)
    assert statuses == [401] * 5
    assert wait_until(lambda: "read again" in exporter.stderr())
    said = exporter.stderr()
    assert f"web configuration {path} takes away passwords: it is taken once it has stayed the " \
           "same for 2 s, the last one serving meanwhile\n" in said, said
    with connect(exporter) as client:
        client.sendall(GET % auth("lab", "s3cret"))
        assert answers(client, 1) == [200]


# exporter-toolkit's own users file holds a hash of cost 18: a user that does not exist costs
# as much, some 20 s here, and is told 401 when it is done, past the 10 s a client has for its
# own bytes.
def test_an_unknown_user_behind_a_costly_hash_is_answered_401(home, serve):
    costly = "$2y$18$" + "abcdefghijklmnopqrstuv" + "O" * 31
    exporter = serve("127.0.0.1:0", "--web-config",
                     write_config(home, f"basic_auth_users:\n  lab: '{costly}'\n"))
    with connect(exporter) as client:
        client.settimeout(280)
        client.sendall(GET % auth("nobody", "x"))
        start = time.monotonic()
        assert answers(client, 1) == [401]
        assert time.monotonic() - start > 10
