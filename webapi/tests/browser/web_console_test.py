#!/usr/bin/python3
"""The web console in headless Chromium against the real `vantrel --headless`, with three
simulated devices from vantrel-sim on loopback.

  web_console_test.py --vantrel PATH --sim PATH
Exit status 77 (skipped) only when Chromium cannot start at all. With VANTREL_SCREENSHOTS=DIR
the table, a run in progress and the log view are saved there as PNG files.
"""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

SKIPPED = 77
WAIT = 20  # upper bound of every wait on the page, in seconds
ARGS = None


def free_port():
    # Below the kernel's ephemeral range (32768 and up): a port from that range can go to
    # another test's outgoing connection before the program binds it.
    import random
    for _ in range(200):
        port = random.randint(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


def add_user(data, name, role, password):
    subprocess.run([ARGS.vantrel, f"--data-dir={data}", f"--add-user={name}", f"--role={role}"],
                   input=password + "\n", text=True, check=True, capture_output=True)


class SimOutput:
    """The lines vantrel-sim --verbose prints, read on a thread; waits on a condition."""

    def __init__(self, process):
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self.read, args=(process.stdout,), daemon=True)
        self.thread.start()

    def read(self, stream):
        for line in stream:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()

    def wait_for(self, text, since=0, timeout=WAIT):
        with self.cond:
            found = self.cond.wait_for(
                lambda: any(text in line for line in self.lines[since:]), timeout)
        return found

    def count(self):
        with self.cond:
            return len(self.lines)


def chrome():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--window-size=1366,768", "--lang=zh-CN", "--no-first-run"):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # The page itself at a laptop's 1366x768, whatever the browser's frame takes.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1366, "height": 768, "deviceScaleFactor": 1, "mobile": False})
    return driver


class WebConsole(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="vantrel-browser-")
        data = os.path.join(cls.folder, "data")
        os.makedirs(data)
        add_user(data, "op", "operator", "op-pass")
        add_user(data, "eve", "viewer", "eve-pass")
        link, web = free_port(), free_port()
        cls.base = f"http://127.0.0.1:{web}"
        with open(os.path.join(cls.folder, "stderr"), "w") as errors:
            cls.console = subprocess.Popen(
                [ARGS.vantrel, "--headless", f"--data-dir={data}", f"--lock-dir={data}",
                 f"--port={link}", f"--web-port={web}"],
                stdout=subprocess.DEVNULL, stderr=errors)
        deadline = time.monotonic() + WAIT
        while not cls.healthy():
            if time.monotonic() > deadline or cls.console.poll() is not None:
                raise RuntimeError("vantrel did not come up: " + cls.stderr())
            time.sleep(0.05)  # the port is not there yet; nothing to wait on but the next try
        cls.sim = subprocess.Popen(
            [ARGS.sim, "--port", str(link), "--count", "3", "--first-id", "1001", "--groups",
             "1", "--mode", "serial", "--step-delay", "40", "--verbose"],
            stdout=subprocess.PIPE, text=True)
        cls.frames = SimOutput(cls.sim)
        cls.driver = chrome()
        cls.shots = os.environ.get("VANTREL_SCREENSHOTS")

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        for process in (cls.sim, cls.console):
            process.terminate()
            process.wait(10)
        cls.sim.stdout.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def healthy(cls):
        try:
            with urllib.request.urlopen(cls.base + "/healthz", timeout=2) as reply:
                return reply.status == 200
        except (urllib.error.URLError, OSError):
            return False

    @classmethod
    def stderr(cls):
        with open(os.path.join(cls.folder, "stderr")) as f:
            return f.read()

    def wait(self, condition, message):
        return WebDriverWait(self.driver, WAIT, poll_frequency=0.05).until(
            lambda d: condition(d), message)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def shot(self, name):
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(self.shots, name))

    def login(self, user, password):
        d = self.driver
        d.get(self.base + "/")
        self.js("sessionStorage.clear()")
        d.delete_all_cookies()
        d.get(self.base + "/")
        self.wait(lambda d: d.find_element(By.ID, "loginUser").is_displayed(), "no login form")
        d.find_element(By.ID, "loginUser").send_keys(user)
        d.find_element(By.ID, "loginPassword").send_keys(password + Keys.ENTER)

    def rows(self):
        return self.js("return [...document.querySelectorAll('#tableRows .row')]"
                       ".map(r => r.dataset.id)")

    def login_operator_with_fleet(self):
        self.login("op", "op-pass")
        self.wait(lambda d: d.find_element(By.ID, "app").is_displayed(), "no console after login")
        self.wait(lambda d: sorted(self.rows()) == ["1001", "1002", "1003"], "three devices")

    def test_1_operator_sees_the_fleet_and_switches_an_outlet_once_the_device_reports(self):
        self.login_operator_with_fleet()
        self.assertEqual(self.driver.find_element(By.ID, "userName").text, "op")
        self.assertEqual(self.driver.find_element(By.ID, "userRole").text, "操作员")
        self.shot("web-console-table.png")
        # Every class the dot takes, in order, from before the click.
        self.js("""
            const dot = document.querySelector('#tableRows .row[data-id="1001"] .dot[data-n="5"]');
            window.dotStates = [dot.className];
            new MutationObserver(() => window.dotStates.push(dot.className))
                .observe(dot, {attributes: true, attributeFilter: ['class']});""")
        self.assertNotIn("on", self.js("return window.dotStates[0]").split())
        since = self.frames.count()
        self.driver.find_element(
            By.CSS_SELECTOR, '#tableRows .row[data-id="1001"] button.dot[data-n="5"]').click()
        self.assertTrue(self.frames.wait_for("device 1001 <- NET_CMD_CHANNEL", since),
                        "the device received no channel frame")
        framed = time.monotonic()
        self.wait(lambda d: self.js("return window.dotStates.at(-1)").split() == ["dot", "on"],
                  "the dot did not light after the device's status")
        self.assertLess(time.monotonic() - framed, 1.0)
        states = [s.split() for s in self.js("return window.dotStates")]
        # "sent" first, never lit before the device said so.
        self.assertEqual(states[1], ["dot", "sent"])
        first_on = next(i for i, s in enumerate(states) if "on" in s)
        self.assertTrue(all("sent" in s for s in states[1:first_on]))

    def test_2_a_serial_run_shows_progress_then_completes(self):
        self.login_operator_with_fleet()
        self.js("""
            window.runTexts = [];
            new MutationObserver(() => {
                const t = document.querySelector('#runPanel .run .text');
                if (t) window.runTexts.push(t.textContent);
            }).observe(document.getElementById('runPanel'),
                       {subtree: true, childList: true, characterData: true});""")
        self.driver.find_element(By.ID, "groupSelect").send_keys("Link1")
        self.driver.find_element(By.CSS_SELECTOR, '.groupRun[data-kind="serial"][data-on="1"]').click()
        self.wait(lambda d: any("进行中" in t for t in self.js("return window.runTexts")),
                  "no run in progress")
        if self.shots:  # a run a device into it shows more than one just started
            self.wait(lambda d: self.js("const r = document.querySelector('#runPanel .run');"
                                        "return !r.classList.contains('running') ||"
                                        " r.querySelector('progress').value >= 1"), "no progress")
            self.shot("web-console-run.png")
        self.wait(lambda d: "完成" in d.find_element(By.CSS_SELECTOR, "#runPanel .run .text").text,
                  "the run did not complete")
        texts = self.js("return window.runTexts")
        self.assertTrue(any(t.startswith("串行开 Link1: 进行中") for t in texts), texts)
        self.assertRegex(texts[-1], r"^串行开 Link1: 完成 (\d)/\1, 用时")
        self.assertIn("done", self.driver.find_element(By.CSS_SELECTOR, "#runPanel .run")
                      .get_attribute("class"))

    def test_3_the_power_off_question_lists_the_switching_order_escape_declines_enter_confirms(self):
        self.login_operator_with_fleet()
        self.wait(lambda d: self.js("return [1001, 1002, 1003].every(id => document.querySelector("
                                    "`#tableRows .row[data-id='${id}'] span:nth-child(7)`)"
                                    ".textContent === 'ON')"), "the run's devices are not on")
        since = self.frames.count()
        self.driver.find_element(By.ID, "groupSelect").send_keys("Link1")
        self.driver.find_element(By.CSS_SELECTOR, '.groupRun[data-kind="serial"][data-on="0"]').click()
        question = self.driver.find_element(By.ID, "question")
        self.wait(lambda d: question.is_displayed(), "no question before switching off")
        self.assertEqual(self.driver.find_element(By.ID, "questionText").text,
                         "确定要关闭Link1的3台设备吗?")
        self.assertEqual(self.driver.find_element(By.ID, "questionDetail").text,
                         "切换顺序: 设备1001(SIM1001) → 设备1002(SIM1002) → 设备1003(SIM1003)")
        self.assertEqual(self.driver.switch_to.active_element.text, "取消")
        self.driver.switch_to.active_element.send_keys(Keys.ESCAPE)
        self.wait(lambda d: not question.is_displayed(), "Escape did not close the question")
        # Asked again and confirmed from the keyboard: the one run the panel shows is this one.
        self.driver.find_element(By.CSS_SELECTOR, '.groupRun[data-kind="serial"][data-on="0"]').click()
        self.wait(lambda d: question.is_displayed(), "no question the second time")
        self.driver.switch_to.active_element.send_keys(Keys.SHIFT, Keys.TAB)
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        self.wait(lambda d: "完成" in d.find_element(By.CSS_SELECTOR, "#runPanel .run .text").text,
                  "the confirmed run did not complete")
        runs = self.driver.find_elements(By.CSS_SELECTOR, "#runPanel .run .text")
        self.assertEqual([r.text.split(":")[0] for r in runs], ["串行关 Link1"])
        self.assertTrue(self.frames.wait_for("device 1003 <- NET_CMD_SERIAL", since))

    def test_3b_the_filter_box_and_a_column_title_choose_and_order_the_rows(self):
        self.login_operator_with_fleet()
        box = self.driver.find_element(By.ID, "filter")
        box.send_keys("127.0.0.3")
        self.wait(lambda d: self.rows() == ["1002"], "the filter did not keep only 1002")
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.DELETE)
        self.wait(lambda d: self.rows() == ["1001", "1002", "1003"], "not every device back")
        title = self.driver.find_element(By.CSS_SELECTOR, '#tableHead button[data-key="id"]')
        title.click()  # the second click on the sorted column turns its order
        self.wait(lambda d: self.rows() == ["1003", "1002", "1001"], "not sorted descending")
        self.assertEqual(title.get_attribute("aria-sort"), "descending")

    def test_4_the_log_view_shows_the_runs_audit_line_and_downloads_it_as_csv(self):
        self.login_operator_with_fleet()
        self.driver.find_element(By.CSS_SELECTOR, '.tab[data-view="logView"]').click()
        audit = "串行开分组1汇总"
        self.wait(lambda d: any(audit in td.text and "用户:op" in td.text
                                for td in d.find_elements(By.CSS_SELECTOR, "#logRows td")),
                  "no audit line of the run in the log view")
        self.shot("web-console-log.png")
        csv = self.js("""
            return fetch(document.getElementById('logCsv').href).then(r => r.text());""")
        self.assertIn(audit, csv)
        self.assertTrue(csv.lstrip("\ufeff").startswith("序号"), csv[:40])

    def test_5_a_viewer_sees_the_fleet_without_buttons(self):
        self.login("eve", "eve-pass")
        self.wait(lambda d: sorted(self.rows()) == ["1001", "1002", "1003"], "three devices")
        self.assertEqual(self.driver.find_element(By.ID, "userRole").text, "查看员")
        visible = [b.text for b in self.driver.find_elements(By.CSS_SELECTOR, "main button")
                   if b.is_displayed() and not b.get_attribute("data-key")
                   and b.get_attribute("id") not in ("logNewer", "logOlder")]
        self.assertEqual(visible, [])
        self.assertEqual(self.js("return document.querySelectorAll('button.dot').length"), 0)
        self.assertEqual(self.js("return document.querySelectorAll('span.dot').length"), 48)

    def test_6_a_wrong_password_shows_the_message(self):
        self.login("op", "not-the-password")
        self.wait(lambda d: d.find_element(By.ID, "loginMessage").text == "用户名或密码错误",
                  "no message for a wrong password")
        self.assertFalse(self.driver.find_element(By.ID, "app").is_displayed())

    def test_7_an_ended_session_returns_to_the_login_form_with_a_message(self):
        self.login_operator_with_fleet()
        # The server forgets the session; the page's next call finds out.
        self.js("""return fetch('/api/logout', {method: 'POST', headers:
                   {'X-CSRF-Token': JSON.parse(sessionStorage.getItem('vantrel.session')).csrf}})
                   .then(r => r.status)""")
        self.driver.find_element(By.CSS_SELECTOR, '.tab[data-view="logView"]').click()
        self.wait(lambda d: d.find_element(By.ID, "login").is_displayed(), "no login form")
        self.assertEqual(self.driver.find_element(By.ID, "loginMessage").text,
                         "登录已过期,请重新登录")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--vantrel", required=True)
    parser.add_argument("--sim", required=True)
    ARGS, rest = parser.parse_known_args()
    try:
        chrome().quit()
    except WebDriverException as error:
        print(f"SKIPPED: headless Chromium cannot start here: {error.msg}")
        return SKIPPED
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
