#!/usr/bin/python3
"""The web console's frame time under load: the real `vantrel --headless` with 5000 simulated
devices sending 2000 status frames a second (web_status_fleet), the page in headless Chromium
at 1366x768 scrolling its table, and the gaps between requestAnimationFrame callbacks.

  web_frame_bench.py VANTREL WEB_STATUS_FLEET [--devices N] [--rate R] [--seconds S]
Prints the figures and, after a line TABLE, the row of bench/run.sh's table.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "webapi", "tests", "browser"))
from web_console_test import chrome, free_port  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

GOAL_MS = 50.0


def metrics(driver):
    answer = driver.execute_cdp_cmd("Performance.getMetrics", {})
    return {m["name"]: m["value"] for m in answer["metrics"]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vantrel")
    parser.add_argument("fleet")
    parser.add_argument("--devices", type=int, default=5000)
    parser.add_argument("--rate", type=int, default=2000)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--still", action="store_true", help="the table does not scroll")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="web-frame-bench-")
    data = os.path.join(folder, "data")
    os.makedirs(data)
    subprocess.run([args.vantrel, f"--data-dir={data}", "--add-user=bench", "--role=operator"],
                   input="bench-pass\n", text=True, check=True, capture_output=True)
    link, web = free_port(), free_port()
    base = f"http://127.0.0.1:{web}"
    console = subprocess.Popen([args.vantrel, "--headless", f"--data-dir={data}",
                                f"--lock-dir={data}", f"--port={link}", f"--web-port={web}"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    fleet = driver = None
    try:
        deadline = time.monotonic() + 30
        while True:
            try:
                with urllib.request.urlopen(base + "/healthz", timeout=2) as reply:
                    if reply.status == 200:
                        break
            except OSError:
                pass
            if time.monotonic() > deadline:
                raise RuntimeError("vantrel did not come up")
            time.sleep(0.1)  # the port is not there yet
        fleet = subprocess.Popen([args.fleet, str(link), str(args.devices), str(args.rate),
                                  str(args.seconds)], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)
        if fleet.stdout.readline().strip() != "ready":
            raise RuntimeError("the fleet did not connect")
        driver = chrome()
        driver.get(base + "/")
        wait = WebDriverWait(driver, 120, poll_frequency=0.1)
        wait.until(lambda d: d.find_element(By.ID, "loginUser").is_displayed())
        driver.find_element(By.ID, "loginUser").send_keys("bench")
        driver.find_element(By.ID, "loginPassword").send_keys("bench-pass" + Keys.ENTER)
        wait.until(lambda d: d.find_element(By.ID, "deviceCount").text == f"{args.devices}台设备")
        # Every frame's gap, while the table scrolls down and up a row height at a time.
        driver.execute_script("""
            window.gaps = []; window.recording = true;
            const scrolling = arguments[0];
            const body = document.getElementById('tableBody');
            let last = performance.now(), step = 28;
            const frame = (now) => {
                window.gaps.push(now - last); last = now;
                if (body.scrollTop + body.clientHeight >= body.scrollHeight - 1) step = -28;
                if (body.scrollTop <= 0) step = 28;
                if (scrolling) body.scrollTop += step;
                if (window.recording) requestAnimationFrame(frame);
            };
            requestAnimationFrame(frame);""", not args.still)
        driver.execute_cdp_cmd("Performance.enable", {})
        before = metrics(driver)
        fleet.stdin.write("go\n")
        fleet.stdin.flush()
        done = fleet.stdout.readline().strip()
        gaps = driver.execute_script("window.recording = false; return window.gaps.slice(1);")
        after = metrics(driver)
        shown = driver.execute_script(
            "return document.querySelectorAll('#tableRows .row').length")
    finally:
        if driver:
            driver.quit()
        if fleet:
            fleet.stdin.close()
            fleet.wait(30)
        console.terminate()
        console.wait(30)
        shutil.rmtree(folder, ignore_errors=True)
    gaps.sort()
    p = lambda q: gaps[min(len(gaps) - 1, int(q * len(gaps)))]  # noqa: E731
    p99 = p(0.99)
    print(f"{done}: {len(gaps)} frames in {args.seconds:g} s, {shown} rows in the page; "
          f"frame time p50 {p(0.5):.1f} ms, p99 {p99:.1f} ms, max {gaps[-1]:.1f} ms")
    busy = {k: after[k] - before[k] for k in
            ("TaskDuration", "ScriptDuration", "LayoutDuration", "RecalcStyleDuration")}
    print("renderer main thread busy during the load: " +
          ", ".join(f"{k} {v:.2f} s" for k, v in busy.items()))
    print("TABLE")
    motion = "table still" if args.still else "table scrolling"
    print(f"web console: {args.devices} devices, {args.rate} status frames/s, {motion}|"
          f"frame time p99 {p99:.1f} ms|p99 < {GOAL_MS:g} ms|-|{'met' if p99 < GOAL_MS else 'MISSED'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
