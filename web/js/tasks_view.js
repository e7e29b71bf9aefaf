// Timed tasks: the task list with each task's next start, and the should-be/is view (for every
// device of a task whose window is open now, the outlets the task wants beside the outlets the
// device reports), from which an operator sends a task's pattern again.
const OUTLETS = 16;
// The rows follow the clock (windows open and close) on this period while the view is shown;
// the devices' own outlets follow the event stream at once.
const REFRESH_MS = 2000;
// Devices named in one result line at most; the rest are counted.
const NAMED_IN_RESULT = 8;

const runText = { running: "运行" };
const typeText = { date: "日期模式", week: "周模式" };
const WEEKDAYS = ["日", "一", "二", "三", "四", "五", "六"];

// "2024-03-05" as the window's "2024-3-5".
const dateText = (iso) => iso.split("-").map(Number).join("-");

// The task list's cells, as the window's task list shows them.
function taskCells(task) {
  const week = task.kind === "week";
  const date = task.kind === "date";
  return [
    String(task.number),
    task.name,
    task.start,
    task.end,
    typeText[task.kind] || task.kind,
    week ? "" : dateText(task.from),
    week ? "" : dateText(task.to),
    date ? "" : task.weekdays.map((d) => WEEKDAYS[d]).join(""),
    runText[task.state] || "空闲",
    task.enabled ? "启用" : "禁用",
    task.nextRun || "",
  ];
}

// "11(灯光)、12(灯光)", at most NAMED_IN_RESULT, then "等N台".
function deviceList(rows) {
  const text = rows.slice(0, NAMED_IN_RESULT).map((r) => `${r.device}(${r.task})`).join("、");
  return rows.length > NAMED_IN_RESULT ? `${text}等${rows.length}台` : text;
}

function dots(outlets) {
  const cell = document.createElement("td");
  cell.className = "dots";
  if (!outlets) return cell;
  for (let n = 0; n < OUTLETS; ++n) {
    const dot = document.createElement("span");
    dot.className = outlets[n] ? "dot on" : "dot";
    cell.append(dot);
  }
  return cell;
}

function textCell(text) {
  const cell = document.createElement("td");
  cell.textContent = text;
  return cell;
}

export class TasksView {
  // `table` gives the devices' newest states; `operator` shows the selection and the buttons.
  constructor(api, table, operator, notify) {
    this.api = api;
    this.table = table;
    this.operator = operator;
    this.notify = notify;
    this.$ = (id) => document.getElementById(id);
    this.rows = []; // the should-be/is rows as GET /api/tasks/state gave them
    this.selected = new Set(); // device ids, kept over refreshes
    this.timer = 0;
    this.frame = 0;
    this.shown = false;
    this.$("applySelected").onclick = () => this.applySelected();
    this.$("applyMismatched").onclick = () => this.applyMismatched();
    this.$("taskStateRows").onchange = (e) => {
      const box = e.target.closest("input[type=checkbox]");
      if (!box) return;
      const id = Number(box.dataset.id);
      if (box.checked) this.selected.add(id);
      else this.selected.delete(id);
    };
  }

  show() {
    this.shown = true;
    this.$("taskResult").textContent = "";
    this.load();
    clearInterval(this.timer);
    this.timer = setInterval(() => this.load(), REFRESH_MS);
  }

  hide() {
    this.shown = false;
    clearInterval(this.timer);
  }

  async load() {
    let tasks;
    let rows;
    try {
      [tasks, rows] = await Promise.all([
        this.api.call("GET", "/api/tasks"),
        this.api.call("GET", "/api/tasks/state"),
      ]);
    } catch (error) {
      if (error.status !== 401) this.notify(`定时任务: ${error.message}`);
      return;
    }
    if (!this.shown) return;
    this.$("taskRows").replaceChildren(
      ...tasks.map((task) => {
        const tr = document.createElement("tr");
        tr.append(...taskCells(task).map(textCell));
        return tr;
      }),
    );
    this.rows = rows;
    this.render();
  }

  // A device's status came: its row shows it on the next frame.
  deviceChanged(id) {
    if (!this.shown || this.frame || !this.rows.some((r) => r.device === id)) return;
    this.frame = requestAnimationFrame(() => {
      this.frame = 0;
      this.render();
    });
  }

  // The row with the device's newest state from the event stream; a device the table no
  // longer holds is not registered.
  current(row) {
    const device = this.table.get(row.device);
    if (!device) return { ...row, deviceName: "", online: false, mismatch: false };
    const online = !!device.online;
    const is = device.outlets.map(Boolean);
    const mismatch = online && row.should.some((on, k) => on !== is[k]);
    return { ...row, deviceName: device.name, online, is, mismatch };
  }

  render() {
    const rows = this.rows.map((r) => this.current(r));
    this.$("taskStateEmpty").hidden = rows.length > 0;
    this.$("taskState").hidden = rows.length === 0;
    this.$("taskStateRows").replaceChildren(
      ...rows.map((row) => {
        const tr = document.createElement("tr");
        tr.dataset.device = String(row.device);
        tr.className = !row.online ? "offline" : row.mismatch ? "mismatch" : "";
        const status = !row.online ? "离线" : row.mismatch ? "不一致" : "一致";
        if (this.operator) {
          const cell = document.createElement("td");
          const box = document.createElement("input");
          box.type = "checkbox";
          box.dataset.id = String(row.device);
          box.checked = this.selected.has(row.device);
          box.setAttribute("aria-label", `选中设备${row.device}`);
          cell.append(box);
          tr.append(cell);
        }
        tr.append(
          textCell(String(row.device)),
          textCell(row.deviceName),
          textCell(row.task),
          dots(row.should),
          dots(row.online ? row.is : null),
          textCell(status),
        );
        return tr;
      }),
    );
  }

  applySelected() {
    const chosen = this.rows.map((r) => this.current(r)).filter((r) => this.selected.has(r.device));
    if (chosen.length === 0) {
      this.$("taskResult").textContent = "没有选中设备,未发送";
      return;
    }
    this.apply(chosen);
  }

  applyMismatched() {
    const chosen = this.rows.map((r) => this.current(r)).filter((r) => r.mismatch);
    if (chosen.length === 0) {
      this.$("taskResult").textContent = "没有不一致的设备,未发送";
      return;
    }
    this.apply(chosen);
  }

  // One call per task, naming its chosen devices; the result line says which got it.
  async apply(chosen) {
    const byTask = new Map();
    for (const row of chosen) {
      if (!byTask.has(row.task)) byTask.set(row.task, []);
      byTask.get(row.task).push(row);
    }
    const sent = [];
    const refused = [];
    await Promise.all(
      [...byTask].map(async ([task, rows]) => {
        try {
          const path = `/api/tasks/${encodeURIComponent(task)}/apply`;
          const answer = await this.api.call("POST", path, { devices: rows.map((r) => r.device) });
          const took = new Set(answer.sent);
          for (const row of rows) (took.has(row.device) ? sent : refused).push(row);
        } catch {
          refused.push(...rows);
        }
      }),
    );
    const parts = [];
    if (sent.length) parts.push(`已发送到${sent.length}台设备:${deviceList(sent)}`);
    if (refused.length) {
      parts.push(`${refused.length}台未发送(定时任务模块未运行或任务已更改):${deviceList(refused)}`);
    }
    this.$("taskResult").textContent = parts.join(";");
  }

  close() {
    this.hide();
    cancelAnimationFrame(this.frame);
    this.frame = 0;
  }
}
