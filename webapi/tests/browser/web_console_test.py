#!/usr/bin/python3
"""The web console in headless Chromium against the real `vantrel --headless`, with three
simulated devices from vantrel-sim on loopback.

  web_console_test.py --vantrel PATH --sim PATH
Exit status 77 (skipped) only when Chromium cannot start at all. With VANTREL_SCREENSHOTS=DIR
the table, a run in progress, the log view and the task view are saved there as PNG files.
"""
import argparse
import datetime
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
import urllib.parse
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
DRIVER = None  # the one Chromium of the run, started by main()


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


def add_token(data, name, role):
    made = subprocess.run([ARGS.vantrel, f"--data-dir={data}", f"--add-token={name}",
                           f"--role={role}"], text=True, check=True, capture_output=True)
    return made.stdout.strip().split()[-1]


class Proxy:
    """A TCP relay between the browser and the program that can cut every connection through
    it and, until restored, close new ones at once or answer them 503 (as a reverse proxy
    does while its program restarts): a stream that drops."""

    def __init__(self, port):
        self.target = port
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.open = []
        self.down = None  # None (relaying), "close" or "503"
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                if self.down:
                    if self.down == "503":
                        client.recv(65536)
                        client.sendall(b"HTTP/1.1 503 Service Unavailable\r\n"
                                       b"Content-Length: 0\r\nConnection: close\r\n\r\n")
                    client.close()
                    continue
                server = socket.create_connection(("127.0.0.1", self.target))
                self.open += [client, server]
            for a, b in ((client, server), (server, client)):
                threading.Thread(target=self.pump, args=(a, b), daemon=True).start()

    @staticmethod
    def pump(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        source.close()

    def cut(self, how="close"):
        with self.lock:
            self.down = how
            for s in self.open:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            self.open = []

    def restore(self):
        with self.lock:
            self.down = None

    def close(self):
        self.cut()
        self.listener.close()


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

    def count(self, text=None):
        with self.cond:
            return len([l for l in self.lines if text is None or text in l])

    def wait_count(self, text, at_least, timeout=WAIT):
        with self.cond:
            return self.cond.wait_for(
                lambda: len([l for l in self.lines if text in l]) >= at_least, timeout)


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
        cls.token = add_token(data, "script", "admin")
        link, web = free_port(), free_port()
        cls.link = link
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
        cls.kept = []
        cls.driver = DRIVER
        cls.shots = os.environ.get("VANTREL_SCREENSHOTS")

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        for process in (*cls.kept, cls.sim, cls.console):
            process.terminate()
            process.wait(10)
            if process.stdout:
                process.stdout.close()
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

    @classmethod
    def api(cls, method, path, body=None):
        """A script's call with the admin token: the same calls the page makes."""
        request = urllib.request.Request(
            cls.base + path, method=method, headers={"Authorization": f"Bearer {cls.token}"},
            data=None if body is None else json.dumps(body).encode())
        with urllib.request.urlopen(request, timeout=WAIT) as reply:
            return json.loads(reply.read() or b"null")

    def start_sim(self, *args, keep=False):
        """More simulated devices beside the fleet (own addresses via --first-address); they
        stop when the test ends, or with the fleet when `keep`."""
        process = subprocess.Popen(
            [ARGS.sim, "--port", str(self.link), "--step-delay", "40", "--verbose", *args],
            stdout=subprocess.PIPE, text=True)
        output = SimOutput(process)
        if keep:
            self.kept.append(process)
        else:
            self.addCleanup(process.stdout.close)
            self.addCleanup(process.wait, 10)
            self.addCleanup(process.terminate)
        return process, output

    def notices(self):
        return [n.text for n in self.driver.find_elements(By.CSS_SELECTOR, "#notices .notice .text")]

    def dismiss(self, text):
        for notice in self.driver.find_elements(By.CSS_SELECTOR, "#notices .notice"):
            if notice.find_element(By.CSS_SELECTOR, ".text").text.startswith(text):
                notice.find_element(By.TAG_NAME, "button").click()
                return
        self.fail(f"no notice {text!r} in {self.notices()}")

    def wait(self, condition, message):
        try:
            return WebDriverWait(self.driver, WAIT, poll_frequency=0.05).until(
                lambda d: condition(d), message)
        except Exception:
            print("page at failure:", self.js("return document.getElementById('app').innerText"))
            raise

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def shot(self, name):
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(self.shots, name))

    def login(self, user, password, base=None):
        d = self.driver
        d.get((base or self.base) + "/")
        self.js("sessionStorage.clear()")
        d.delete_all_cookies()
        d.get((base or self.base) + "/")
        self.wait(lambda d: d.find_element(By.ID, "loginUser").is_displayed(), "no login form")
        d.find_element(By.ID, "loginUser").send_keys(user)
        d.find_element(By.ID, "loginPassword").send_keys(password + Keys.ENTER)

    def rows(self):
        return self.js("return [...document.querySelectorAll('#tableRows .row')]"
                       ".map(r => r.dataset.id)")

    def login_operator_with_fleet(self, base=None):
        self.login("op", "op-pass", base)
        self.wait(lambda d: d.find_element(By.ID, "app").is_displayed(), "no console after login")
        self.wait(lambda d: {"1001", "1002", "1003"} <= set(self.rows()), "three devices")

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
        self.driver.find_element(By.CSS_SELECTOR, '.tab[data-view="tasksView"]').click()
        self.wait(lambda d: d.find_element(By.ID, "tasksView").is_displayed(), "no task view")
        self.assertEqual([b.text for b in self.driver.find_elements(By.CSS_SELECTOR, "#tasksView button")
                          if b.is_displayed()], [])
        self.assertEqual(self.js("return document.querySelectorAll('#tasksView input').length"), 0)

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

    TASK = "网页任务"
    TASK_DEVICES = ["1006", "1007"]
    TASK_OUTLETS = [n in (1, 3) for n in range(1, 17)]  # outlets 1 and 3 on

    def test_8_a_task_in_its_window_is_listed_running_with_its_next_start(self):
        # Its two devices get the task's pattern now (16 frames each, 1.1 s apart); the task
        # view's test, the last, finds them done.
        _, type(self).task_frames = self.start_sim(
            "--count", "2", "--first-id", "1006", "--groups", "0", "--first-address", "24",
            keep=True)
        body = {"kind": "week", "from": "2026-01-01", "to": "2026-01-01",
                "weekdays": list(range(7)), "start": "00:00:00", "end": "23:59:59",
                "devices": [{"id": int(i), "outlets": self.TASK_OUTLETS} for i in self.TASK_DEVICES]}
        self.api("PUT", "/api/tasks/" + urllib.parse.quote(self.TASK), body)
        self.login_operator_with_fleet()
        self.driver.find_element(By.CSS_SELECTOR, '.tab[data-view="tasksView"]').click()
        tomorrow = (datetime.date.today() + datetime.timedelta(days=1)).isoformat()
        expected = [["1", self.TASK, "00:00:00", "23:59:59", "周模式", "", "", "日一二三四五六",
                     "运行", "启用", f"{tomorrow} 00:00:00"]]
        self.wait(lambda d: self.js("return [...document.querySelectorAll('#taskRows tr')]"
                                    ".map(r => [...r.cells].map(c => c.textContent))") == expected,
                  "the task is not listed running with tomorrow's start")

    def test_9_an_id_conflict_and_a_lost_device_are_notices_the_operator_dismisses(self):
        self.login_operator_with_fleet()
        lost, _ = self.start_sim("--count", "1", "--first-id", "1004", "--groups", "0",
                                 "--first-address", "20")
        self.wait(lambda d: "1004" in self.rows(), "device 1004 did not appear")
        lost.terminate()  # no more heartbeat answers: the link reports it offline
        # A second device registering 1001, online at 127.0.0.2, from 127.0.0.23.
        twin, _ = self.start_sim("--count", "1", "--first-id", "1001", "--groups", "0",
                                 "--first-address", "21")
        conflict = "设备ID冲突: 设备1001从127.0.0.23注册被拒绝, 该ID已在127.0.0.2在线"
        self.wait(lambda d: conflict in self.notices(), "no id-conflict notice")
        twin.terminate()
        self.dismiss(conflict)
        self.wait(lambda d: conflict not in self.notices(), "the conflict notice stayed")
        offline = "设备离线: 设备1004(SIM1004) 127.0.0.22 "
        self.wait(lambda d: any(n.startswith(offline) for n in self.notices()),
                  "no notice for the lost device")
        self.assertNotIn("1004", self.rows())
        self.dismiss(offline)
        self.wait(lambda d: not any(n.startswith(offline) for n in self.notices()),
                  "the offline notice stayed")

    def test_9b_a_serial_run_is_cancelled_from_the_page(self):
        self.login_operator_with_fleet()
        # First in Link1's order (numbered 1 like 1001, a lower id) and slow: its step takes
        # 16 x 150 ms. A cancel lets the device being switched finish its step.
        self.start_sim("--count", "1", "--first-id", "1000", "--groups", "1", "--mode", "serial",
                       "--step-delay", "150", "--first-address", "22")
        self.wait(lambda d: "1000" in self.rows(), "device 1000 did not appear")
        self.driver.find_element(By.ID, "groupSelect").send_keys("Link1")
        self.driver.find_element(By.CSS_SELECTOR, '.groupRun[data-kind="serial"][data-on="1"]').click()
        run = lambda: self.driver.find_element(By.CSS_SELECTOR, "#runPanel .run")
        self.wait(lambda d: "正在切换设备1000" in run().text, "the run did not start with 1000")
        run().find_element(By.CSS_SELECTOR, "button.cancel").click()
        self.wait(lambda d: "cancelled" in run().get_attribute("class").split(),
                  "the run was not cancelled")
        self.assertRegex(run().find_element(By.CSS_SELECTOR, ".text").text,
                         r"^串行开 Link1: 已取消 \d/4, 用时")
        self.assertFalse(run().find_element(By.CSS_SELECTOR, "button.cancel").is_displayed())

    def test_9c_the_log_pages_back_and_forth(self):
        self.login_operator_with_fleet()
        # More rows than one page: each holiday list written is a row of its own.
        for _ in range(51 - len(self.api("GET", "/api/log?limit=51")["rows"])):
            self.api("PUT", "/api/holidays", {"dates": []})
        self.driver.find_element(By.CSS_SELECTOR, '.tab[data-view="logView"]').click()
        seqs = lambda: self.js("return [...document.querySelectorAll('#logRows tr')]"
                               ".map(r => Number(r.dataset.seq))")
        info = lambda: self.driver.find_element(By.ID, "logInfo").text
        self.wait(lambda d: info() == "第1页, 50条", "no first page of 50 rows")
        first = seqs()
        self.driver.find_element(By.ID, "logOlder").click()
        self.wait(lambda d: info().startswith("第2页"), "no second page")
        second = seqs()
        # The rows right after the first page's last, newest first, numbered on from 51.
        expected = [r["seq"] for r in self.api("GET", f"/api/log?limit=50&before={first[-1]}")["rows"]]
        self.assertEqual(second, expected)
        self.assertEqual(self.driver.find_element(By.CSS_SELECTOR, "#logRows td").text, "51")
        self.driver.find_element(By.ID, "logNewer").click()
        self.wait(lambda d: info().startswith("第1页"), "not back on the first page")
        self.assertGreaterEqual(seqs()[-1], first[-1])
        self.assertTrue(self.driver.find_element(By.ID, "logNewer").get_attribute("disabled"))

    def test_9d_after_the_event_stream_comes_back_the_page_reads_the_devices_again(self):
        proxy = Proxy(int(self.base.rsplit(":", 1)[1]))
        self.addCleanup(proxy.close)
        self.login_operator_with_fleet(f"http://127.0.0.1:{proxy.port}")
        dot = '#tableRows .row[data-id="1003"] .dot[data-n="9"]'
        lit = lambda: "on" in self.driver.find_element(By.CSS_SELECTOR, dot).get_attribute("class").split()
        # Connections refused (the stream retries by itself), then answered 503 (it gives up and
        # the page starts it again, reading the list once the program answers).
        for how in ("close", "503"):
            was = lit()
            proxy.cut(how)
            # Switched by a script while the page hears nothing: no event can tell the page.
            self.api("PUT", "/api/devices/1003/outlets/9", {"on": not was})
            deadline = time.monotonic() + WAIT
            while self.api("GET", "/api/devices/1003")["outlets"][8] == was:
                self.assertLess(time.monotonic(), deadline, "the device did not switch")
                time.sleep(0.05)  # the device reports by itself; nothing to wait on but a read
            if how == "503":  # the page has found the program gone before it comes back
                self.wait(lambda d: any(n.startswith("设备列表") for n in self.notices()),
                          "the page did not try the list")
            self.assertEqual(lit(), was, how)
            proxy.restore()
            self.wait(lambda d: lit() != was, f"the page did not read the devices again ({how})")

    def test_9z_the_task_view_applies_a_task_to_the_selected_device_only(self):
        frames = self.task_frames
        channel = lambda i: f"device {i} <- NET_CMD_CHANNEL"
        for i in self.TASK_DEVICES:  # the task's own run, started in test 8, is over
            self.assertTrue(frames.wait_count(channel(i), 16, timeout=60), f"{i}'s run")
        self.login_operator_with_fleet()
        # Outlet 2 of 1007 switched on: it no longer matches the task.
        self.api("PUT", "/api/devices/1007/outlets/2", {"on": True})
        self.driver.find_element(By.CSS_SELECTOR, '.tab[data-view="tasksView"]').click()
        cells = lambda: self.js("return [...document.querySelectorAll('#taskStateRows tr')]"
                                ".map(r => [r.className, ...[...r.cells].slice(1).map(c =>"
                                " c.querySelectorAll('.dot').length ? [...c.querySelectorAll('.dot')]"
                                ".map(d => d.classList.contains('on') ? 1 : 0).join('') : c.textContent)])")
        should = "".join("1" if on else "0" for on in self.TASK_OUTLETS)
        drifted = should[:1] + "1" + should[2:]
        self.wait(lambda d: cells() == [
            ["", "1006", "SIM1006", self.TASK, should, should, "一致"],
            ["mismatch", "1007", "SIM1007", self.TASK, should, drifted, "不一致"]],
            f"the view does not show 1007 drifted: {cells()}")
        self.assertEqual(len(self.js("return [...document.querySelectorAll('#taskStateRows input')]")), 2)
        since = {i: frames.count(channel(i)) for i in self.TASK_DEVICES}
        self.driver.find_element(By.CSS_SELECTOR, '#taskStateRows input[data-id="1007"]').click()
        self.driver.find_element(By.ID, "applySelected").click()
        self.wait(lambda d: d.find_element(By.ID, "taskResult").text ==
                  f"已发送到1台设备:1007({self.TASK})", "no result line")
        self.shot("web-console-tasks.png")
        # 1007 gets the pattern again, outlet by outlet; by its second frame 1006 would have
        # had its first, had it been sent to.
        self.assertTrue(frames.wait_count(channel("1007"), since["1007"] + 2), "1007 got no frames")
        self.assertEqual(frames.count(channel("1006")), since["1006"])
        self.wait(lambda d: cells()[1][-1] == "一致", "1007 does not match the task again")
        self.driver.find_element(By.ID, "applyMismatched").click()
        self.wait(lambda d: d.find_element(By.ID, "taskResult").text == "没有不一致的设备,未发送",
                  "no result line for nothing to send")


def main():
    global ARGS, DRIVER
    parser = argparse.ArgumentParser()
    parser.add_argument("--vantrel", required=True)
    parser.add_argument("--sim", required=True)
    ARGS, rest = parser.parse_known_args()
    try:
        DRIVER = chrome()
    except WebDriverException as error:
        print(f"SKIPPED: headless Chromium cannot start here: {error.msg}")
        return SKIPPED
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
