#!/usr/bin/env python3
"""The Grafana dashboard, without a Grafana server.

Every panel but a row has a title, a description and a unit, and takes its data from the
dashboard's data source variable, as do its queries; with a Prometheus server's address, every
query (its variables replaced by what matches everything, its ranges by ones a young server
has data for) must return at least one series within 20 s: a server that has scraped once has
no rate or increase yet.

    check_dashboard.py DASHBOARD.json [http://PROMETHEUS]
"""
import json
import sys
import time
import urllib.parse
import urllib.request

DATA_SOURCE = "${datasource}"


def faults_of(dashboard):
    faults = []
    variables = [v["name"] for v in dashboard["templating"]["list"]]
    if "datasource" not in variables:
        faults.append("no datasource variable")
    for panel in dashboard["panels"]:
        if panel["type"] == "row":
            continue
        name = panel.get("title") or f"panel {panel.get('id')}"
        if not panel.get("title"):
            faults.append(f"{name}: no title")
        if not panel.get("description"):
            faults.append(f"{name}: no description")
        if not panel.get("fieldConfig", {}).get("defaults", {}).get("unit"):
            faults.append(f"{name}: no unit")
        if panel.get("datasource", {}).get("uid") != DATA_SOURCE:
            faults.append(f"{name}: not on the data source variable")
        if not panel.get("targets"):
            faults.append(f"{name}: no query")
        for target in panel.get("targets", []):
            if target.get("datasource", {}).get("uid") != DATA_SOURCE:
                faults.append(f"{name}: query {target.get('refId')} not on the data source variable")
    return faults


def runnable(expr):
    return (expr.replace('"$job"', '".+"').replace('"$serial"', '".+"')
            .replace("[1d]", "[1m]").replace("$__rate_interval", "1m"))


def series(server, expr):
    url = server + "/api/v1/query?" + urllib.parse.urlencode({"query": expr})
    with urllib.request.urlopen(url, timeout=5) as answer:
        reply = json.load(answer)
    return len(reply["data"]["result"]) if reply.get("status") == "success" else -1


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        dashboard = json.load(f)
    faults = faults_of(dashboard)
    queries = [t["expr"] for p in dashboard["panels"] for t in p.get("targets", [])]
    if len(sys.argv) > 2:
        deadline = time.monotonic() + 20
        for expr in queries:
            count = series(sys.argv[2], runnable(expr))
            while count == 0 and time.monotonic() < deadline:
                time.sleep(0.5)
                count = series(sys.argv[2], runnable(expr))
            if count < 1:
                faults.append(f"{expr}: {'refused' if count < 0 else 'no series'}")
    for fault in faults:
        print(fault)
    checked = "checked" if len(sys.argv) > 2 else "read"
    print(f"{len(dashboard['panels'])} panels, {len(queries)} queries {checked}, "
          f"{len(faults)} faults")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
