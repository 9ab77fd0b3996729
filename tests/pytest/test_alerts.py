# An alert that reaches a person, the whole way: a simulated phone at 47 °C, the exporter,
# Debian's Prometheus with the shipped rules, Debian's Alertmanager with a route like the
# README's, and a webhook that records what a chat bridge or a pager would be sent.
import json
import re
import subprocess
import threading
from http.server import BaseHTTPRequestHandler, HTTPServer

from conftest import SOURCE, free_port, session, wait_until


class Webhook(BaseHTTPRequestHandler):
    received = []

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        Webhook.received.append(json.loads(body))
        self.send_response(200)
        self.end_headers()

    def log_message(self, *arguments):
        pass


def test_a_hot_phone_reaches_a_person_through_alertmanager(lab, serve, tmp_path):
    phone = lab.phone("current_phone")
    assert phone.control("set battery.temperature 47") == "ok"
    exporter = serve("127.0.0.1:0", "--interval", "1")
    target = exporter.url.split("://")[1]

    hook = HTTPServer(("127.0.0.1", 0), Webhook)
    threading.Thread(target=hook.serve_forever, daemon=True).start()
    alertmanager_port, prometheus_port = free_port(), free_port()
    (tmp_path / "alertmanager.yml").write_text(
        "route:\n  receiver: default\n  routes:\n"
        "    - matchers: ['alertname=~\"Device.+\"']\n      receiver: device-lab\n"
        "      group_by: [alertname, instance, serial]\n      group_wait: 0s\n"
        "receivers:\n  - name: default\n  - name: device-lab\n    webhook_configs:\n"
        f"      - url: http://127.0.0.1:{hook.server_port}/device-lab\n")
    # The shipped rules as they are, but for how long each waits before it fires.
    with open(f"{SOURCE}/exporter/deploy/device-info.rules.yml") as f:
        rules = re.sub(r"for: \d+[mh]", "for: 1s", f.read())
    (tmp_path / "rules.yml").write_text(rules)
    (tmp_path / "prometheus.yml").write_text(
        "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        f"rule_files: [{tmp_path}/rules.yml]\n"
        "alerting:\n  alertmanagers:\n"
        f"    - static_configs: [{{targets: ['127.0.0.1:{alertmanager_port}']}}]\n"
        "scrape_configs:\n  - job_name: device-info\n"
        f"    static_configs: [{{targets: ['{target}']}}]\n")
    servers = [
        subprocess.Popen(["prometheus-alertmanager", f"--config.file={tmp_path}/alertmanager.yml",
                          f"--storage.path={tmp_path}/alertmanager",
                          f"--web.listen-address=127.0.0.1:{alertmanager_port}",
                          "--cluster.listen-address="],
                         stdout=subprocess.DEVNULL, stderr=open(tmp_path / "am.log", "wb")),
        subprocess.Popen(["prometheus", f"--config.file={tmp_path}/prometheus.yml",
                          f"--storage.tsdb.path={tmp_path}/tsdb",
                          f"--web.listen-address=127.0.0.1:{prometheus_port}"],
                         stdout=subprocess.DEVNULL, stderr=open(tmp_path / "prom.log", "wb")),
    ]
    try:
        def hot():
            for message in Webhook.received:
                for alert in message["alerts"]:
                    if alert["labels"]["alertname"] == "DeviceBatteryHot":
                        return alert
            return None

        alert = wait_until(hot, 90, 0.2)
        assert alert, (Webhook.received,
                       session().get(f"http://127.0.0.1:{prometheus_port}/api/v1/alerts").text)
        print(json.dumps(alert, indent=1))
        assert alert["status"] == "firing"
        assert {k: alert["labels"][k] for k in ("serial", "kind", "instance", "severity")} == {
            "serial": phone.serial, "kind": "android", "instance": target, "severity": "warning"}
        assert alert["annotations"]["summary"] == (
            f"The battery of {phone.serial} on {target} is at 47 °C")
    finally:
        hook.shutdown()
        for server in servers:
            server.terminate()
            server.wait(10)
