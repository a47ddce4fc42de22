"""Checks the Kubernetes example of docs/server.md, parsed as YAML: the DaemonSet runs on the
nodes labelled as having USB-3000s, with /readyz as its readiness probe, and the headless Service
selects its pods on the server's port. Prints each difference and exits 1 when there is one.
  check_kubernetes_example.py docs/kubernetes/usb3k-server.yaml"""
import sys

import yaml

with open(sys.argv[1], encoding="utf-8") as file:
    kinds = {document["kind"]: document for document in yaml.safe_load_all(file)}
NAME = "app.kubernetes.io/name"
checks = {
    "DaemonSet apiVersion": lambda: kinds["DaemonSet"]["apiVersion"] == "apps/v1",
    "node label": lambda: kinds["DaemonSet"]["spec"]["template"]["spec"]["nodeSelector"]
    == {"usb3k.example.org/usb3000": "attached"},
    "DaemonSet selector": lambda: kinds["DaemonSet"]["spec"]["selector"]["matchLabels"]
    == kinds["DaemonSet"]["spec"]["template"]["metadata"]["labels"] == {NAME: "usb3k-server"},
    "container port": lambda: kinds["DaemonSet"]["spec"]["template"]["spec"]["containers"][0][
        "ports"] == [{"name": "https", "containerPort": 8443}],
    "readiness probe": lambda: kinds["DaemonSet"]["spec"]["template"]["spec"]["containers"][0][
        "readinessProbe"]["httpGet"] == {"path": "/readyz", "port": "https", "scheme": "HTTPS"},
    "headless Service": lambda: kinds["Service"]["spec"]["clusterIP"] == "None",
    "Service selector": lambda: kinds["Service"]["spec"]["selector"] == {NAME: "usb3k-server"},
    "Service port": lambda: kinds["Service"]["spec"]["ports"]
    == [{"name": "https", "port": 8443, "targetPort": "https"}],
}
failed = []
for what, check in checks.items():
    try:
        if not check():
            failed.append(what)
    except (KeyError, IndexError, TypeError) as missing:
        failed.append(f"{what} (no {missing})")
for what in failed:
    print(f"{sys.argv[1]}: wrong {what}")
sys.exit(1 if failed else 0)
