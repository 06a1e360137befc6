#!/usr/bin/env python3
"""The live page in a real browser: Debian's headless Chromium, driven over its DevTools pipe,
against `qvr7130_exporter --simulate=4` on a loopback port of its own.

The page is under 100 KB and fetches nothing from elsewhere; its table lists every satellite the
receiver reports, and its sky plot draws each one above the horizon where the polar formula puts
it, to within a pixel on the screen; once the exporter knows that a device went away, its page
says so within 1.5 s. A screenshot of the page is left at SCREENSHOT.

    live_page_test.py EXPORTER CHROMIUM SCREENSHOT

Exit status 0 when it all holds, 1 when not, 77 when Chromium is missing (1 with CI set).
"""
import base64
import json
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

SERIAL = "QVR000001"
LETTERS = "GSECIJR"


class Browser:
    """Chromium with its DevTools protocol on a pipe: JSON messages ending in a NUL byte."""

    def __init__(self, chromium):
        to_browser, self.sink = os.pipe()
        self.source, from_browser = os.pipe()

        def pipes():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)
            os.set_inheritable(3, True)
            os.set_inheritable(4, True)

        self.process = subprocess.Popen(
            [chromium, "--no-sandbox", "--remote-debugging-pipe", "--hide-scrollbars",
             "--window-size=1100,1700", "about:blank"],
            preexec_fn=pipes, close_fds=False, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.pending = b""
        self.last = 0
        self.session = None

    def call(self, method, **params):
        self.last += 1
        message = {"id": self.last, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.sink, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.source, 1 << 16)
                if not chunk:
                    raise RuntimeError("the browser closed its pipe")
                self.pending += chunk
            text, self.pending = self.pending.split(b"\0", 1)
            reply = json.loads(text)
            if reply.get("id") == self.last:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def open(self, url):
        target = self.call("Target.createTarget", url=url)["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

    def close(self):
        self.process.kill()
        self.process.wait()


def fetch(url):
    with urllib.request.urlopen(url, timeout=5) as answer:
        return answer.read().decode()


def device(address):
    for d in json.loads(fetch(f"http://{address}/status.json")):
        if d["device"]["serial"] == SERIAL:
            return d
    return None


def within(seconds, check):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return True
        time.sleep(0.05)
    return False


# What the page shows, read in the browser: the sky plot's satellites with their circles'
# centres on the screen, relative to the plot, and the scale of the plot's units.
READ_PAGE = """(() => {
  const sky = document.querySelector('svg.sky');
  const box = sky.getBoundingClientRect();
  return {
    scale: box.width / 220,
    sky: [...sky.querySelectorAll('g.sat')].map(g => {
      const c = g.querySelector('circle').getBoundingClientRect();
      return {sat: g.dataset.sat, az: +g.dataset.az, el: +g.dataset.el,
              x: (c.left + c.right) / 2 - box.left, y: (c.top + c.bottom) / 2 - box.top};
    }),
    table: [...document.querySelectorAll('table.sats tr')].slice(1).map(
        r => [r.cells[0].textContent, +r.cells[4].textContent]),
    state: document.querySelector('table.status td').textContent,
  };
})()"""


def main():
    exporter, chromium, screenshot = sys.argv[1:4]
    if not os.access(chromium, os.X_OK):
        print("live page: cannot run: chromium-headless-shell is needed (tools/setup test "
              "installs it)", file=sys.stderr)
        sys.exit(1 if os.environ.get("CI") else 77)
    faults = []
    work = tempfile.mkdtemp()
    log = open(os.path.join(work, "exporter.log"), "w+")
    server = subprocess.Popen([exporter, "--simulate=4", "--web.listen-address=127.0.0.1:0"],
                              stderr=log)
    browser = None
    try:
        address = None

        def listening():
            nonlocal address
            log.seek(0)
            found = re.search(r'msg="listening on" address=(\S+)', log.read())
            address = found.group(1) if found else None
            return address is not None

        if not within(10, listening):
            raise RuntimeError("the exporter did not start")
        if not within(15, lambda: (device(address) or {}).get("receiver", {}).get("fix_ok")):
            raise RuntimeError(f"{SERIAL} has no fix after 15 s")
        url = f"http://{address}/device?serial={SERIAL}"
        page = fetch(url)
        print(f"page: {len(page)} bytes")
        if len(page) >= 100_000:
            faults.append(f"the page is {len(page)} bytes")
        if "://" in page or re.search(r"\ssrc=", page):
            faults.append("the page refers to something elsewhere")

        browser = Browser(chromium)
        browser.open(url)
        if not within(10, lambda: browser.evaluate("document.readyState") == "complete"):
            raise RuntimeError("the page did not load")
        time.sleep(1.5)  # a refresh or two
        shown = browser.evaluate(READ_PAGE)
        listed = {f"{LETTERS[s['gnss_id']]}{s['sv_id']}"
                  for s in device(address)["receiver"]["satellites"]}
        if {label for label, _ in shown["table"]} != listed:
            faults.append(f"the table lists {sorted(l for l, _ in shown['table'])}, "
                          f"the receiver {sorted(listed)}")
        above = {label for label, el in shown["table"] if el >= 0}
        if {s["sat"] for s in shown["sky"]} != above:
            faults.append("the sky plot does not hold every satellite above the horizon")
        worst = 0.0
        for s in shown["sky"]:
            radius = 100 * (90 - s["el"]) / 90
            x = shown["scale"] * (110 + radius * math.sin(math.radians(s["az"])))
            y = shown["scale"] * (110 - radius * math.cos(math.radians(s["az"])))
            worst = max(worst, math.hypot(s["x"] - x, s["y"] - y))
        print(f"sky plot: {len(shown['sky'])} of {len(shown['table'])} satellites drawn, "
              f"at most {worst:.2f} px from the polar formula")
        if worst > 1.0:
            faults.append(f"a satellite is drawn {worst:.2f} px from where it belongs")

        shot = browser.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print(f"screenshot: {screenshot}")

        server.send_signal(signal.SIGUSR1)  # unplugs the first device
        if not within(10, lambda: device(address)["up"] is False):
            raise RuntimeError(f"the exporter did not see {SERIAL} go")
        known = time.monotonic()
        if within(3, lambda: browser.evaluate(READ_PAGE)["state"] != "up"):
            lag = time.monotonic() - known
            print(f"the page showed the unplugging {lag:.2f} s after the exporter knew it")
            if lag > 1.5:
                faults.append(f"the page took {lag:.2f} s to show the unplugging")
        else:
            faults.append("the page never showed the unplugging")
    finally:
        if browser:
            browser.close()
        server.terminate()
        server.wait(timeout=10)
    for fault in faults:
        print("FAIL:", fault)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
