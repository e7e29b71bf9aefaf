// The web console: login, then the device table, group runs and notices live from the event
// stream, and the log.
import { Api } from "./api.js";
import { DeviceTable } from "./device_table.js";
import { Groups } from "./groups.js";
import { LogView } from "./log_view.js";
import { Notices } from "./notices.js";
import { TasksView } from "./tasks_view.js";
import { deviceName, roleText, timeText } from "./texts.js";

const api = new Api();
// A stream the server refused, or a list that could not be read, is tried again after this.
const RESTART_MS = 2000;
const LIST_NOTICE = "list";
const $ = (id) => document.getElementById(id);
let console_ = null;

function showLogin(message) {
  if (console_) console_.close();
  console_ = null;
  $("app").hidden = true;
  $("login").hidden = false;
  $("loginMessage").textContent = message || "";
  $("loginPassword").value = "";
  $("loginUser").focus();
}

api.onExpired = () => showLogin("登录已过期,请重新登录");

class Console {
  constructor() {
    const operator = api.can("operator");
    document.body.classList.toggle("viewer", !operator);
    for (const element of document.querySelectorAll(".op")) element.hidden = !operator;
    $("userName").textContent = api.session.user;
    $("userRole").textContent = roleText[api.session.role] || api.session.role;
    this.notices = new Notices($("notices"));
    const notify = (text) => this.notices.add(text);
    const switchOutlet = operator
      ? (id, n, on) =>
          api.call("PUT", `/api/devices/${id}/outlets/${n}`, { on }).catch((error) => {
            notify(`设备${id} 插座${n}: ${error.message}`);
            throw error;
          })
      : null;
    this.table = new DeviceTable($("table"), switchOutlet);
    this.table.onChange = (shown, total) => {
      $("deviceCount").textContent = shown === total ? `${total}台设备` : `${shown}/${total}台设备`;
    };
    this.groups = new Groups(api, this.table, notify);
    this.log = new LogView(api, notify);
    this.tasks = new TasksView(api, this.table, operator, notify);
    if (!$("tasksView").hidden) this.tasks.show();
    this.closed = false;
    this.retry = 0;
    this.connect();
  }

  // The stream first, then the list: what changes between the two is applied on top.
  async connect() {
    const held = [];
    let ready = false;
    const events = new EventSource("/api/events");
    this.events = events;
    const on = (name, handle) =>
      events.addEventListener(name, (e) => {
        const data = JSON.parse(e.data);
        if (ready) handle(data);
        else held.push(() => handle(data));
      });
    on("device", (d) => this.device(d));
    on("removed", (d) => this.removed(d.id));
    on("run", (run) => this.groups.show(run));
    on("conflict", (c) =>
      this.notices.add(
        `设备ID冲突: 设备${c.id}从${c.newcomer}注册被拒绝, 该ID已在${c.online}在线`,
        `conflict:${c.id}:${c.newcomer}:${c.online}`,
      ),
    );
    events.onerror = () => this.lost(events);
    // Back after a break: what changed meanwhile came as no event, so the list is read again.
    let opened = false;
    events.onopen = () => {
      if (opened && ready) this.readList(events);
      opened = true;
    };
    if (await this.readList(events)) {
      ready = true;
      held.forEach((apply) => apply());
    }
  }

  // Reads the device list for the stream `events`; true once read. A list that cannot be read
  // starts stream and list again after a pause: until then the stream's events are only held.
  async readList(events) {
    try {
      const list = await api.call("GET", "/api/devices");
      if (events !== this.events) return false;
      this.table.replaceAll(list);
      this.notices.remove(LIST_NOTICE);
      return true;
    } catch (error) {
      if (error.status === 401 || this.closed || events !== this.events) return false;
      this.notices.add(`设备列表: ${error.message}`, LIST_NOTICE);
      this.restart();
      return false;
    }
  }

  // Once after a pause: a new stream, then the list.
  restart() {
    if (this.closed || this.retry) return;
    this.events.close();
    this.retry = setTimeout(() => {
      this.retry = 0;
      if (!this.closed) this.connect();
    }, RESTART_MS);
  }

  // The stream broke: a session that ended goes back to the login form; a stream the server
  // refused is started again after a pause; otherwise the browser reconnects by itself.
  async lost(events) {
    if (this.closed || events !== this.events || events.readyState !== EventSource.CLOSED) return;
    try {
      await api.call("GET", "/api/devices/0");
    } catch (error) {
      if (error.status === 401 || this.closed) return;
    }
    if (events === this.events) this.restart();
  }

  device(device) {
    const before = this.table.update(device);
    this.tasks.deviceChanged(device.id);
    if (before && before.online && !device.online) this.offline(device);
    if (device.online) this.notices.remove(`offline:${device.id}`);
  }

  removed(id) {
    const device = this.table.remove(id);
    this.tasks.deviceChanged(id);
    if (device && device.online) this.offline(device);
  }

  offline(device) {
    this.notices.add(`设备离线: ${deviceName(device)} ${device.ip} ${timeText(new Date())}`,
                     `offline:${device.id}`);
  }

  close() {
    this.closed = true;
    if (this.events) this.events.close();
    clearInterval(this.groups.ticker);
    clearTimeout(this.retry);
    this.tasks.close();
    this.notices.clear();
  }
}

function start() {
  $("login").hidden = true;
  $("app").hidden = false;
  if (console_) console_.close();
  console_ = new Console();
}

$("loginForm").addEventListener("submit", async (e) => {
  e.preventDefault();
  $("loginButton").disabled = true;
  try {
    await api.login($("loginUser").value, $("loginPassword").value);
    start();
  } catch (error) {
    $("loginMessage").textContent =
      error.status === 401 ? "用户名或密码错误" :
      error.status === 429 ? "登录失败次数过多,请一分钟后再试" : `登录失败: ${error.message}`;
  } finally {
    $("loginButton").disabled = false;
  }
});

$("logoutButton").addEventListener("click", async () => {
  await api.logout().catch(() => {});
  showLogin("");
});

for (const tab of document.querySelectorAll(".tab")) {
  tab.addEventListener("click", () => {
    for (const other of document.querySelectorAll(".tab")) {
      const chosen = other === tab;
      other.setAttribute("aria-pressed", String(chosen));
      $(other.dataset.view).hidden = !chosen;
    }
    if (tab.dataset.view === "logView" && console_) console_.log.load(null, true);
    if (console_) {
      if (tab.dataset.view === "tasksView") console_.tasks.show();
      else console_.tasks.hide();
    }
  });
}

$("filter").addEventListener("input", (e) => console_ && console_.table.setFilter(e.target.value));

// A session from before a reload goes on while the server still knows it.
if (api.session) {
  api
    .call("GET", "/api/devices/0")
    .then(() => start())
    .catch((error) => (error.status === 404 ? start() : showLogin(api.session ? "" : "登录已过期,请重新登录")));
} else {
  showLogin("");
}
