// The device table: the devices as they reported themselves, sorted and filtered, with only
// the rows in view in the page (thousands of devices scroll like a few). A clicked outlet
// shows "sent" until the device's own status says it is in that state.
import { groupText, masterText, modeText, onlineText } from "./texts.js";

const COLUMNS = [
  { key: "id", title: "设备号", text: (d) => String(d.id) },
  { key: "name", title: "名称", text: (d) => d.name },
  { key: "ip", title: "IP地址", text: (d) => d.ip, order: ipOrder },
  { key: "mode", title: "模式", text: (d) => modeText(d.mode) },
  { key: "group", title: "编组", text: (d) => groupText(d.group) },
  { key: "number", title: "编号", text: (d) => String(d.number) },
  { key: "master", title: "开关", text: (d) => masterText(d.master) },
  { key: "outlets", title: "Led显示", order: (d) => d.outlets.filter(Boolean).length },
  { key: "online", title: "STATUS", text: (d) => onlineText(d.online) },
];
const OUTLETS = 16;
// A command the device never confirms stops showing "sent" after this long.
const SENT_LIMIT_MS = 5000;

function ipOrder(d) {
  return d.ip.split(".").reduce((n, part) => n * 256 + Number(part), 0);
}

export class DeviceTable {
  // `switchOutlet(id, n, on)` returns a promise; null for a viewer (no outlet buttons).
  constructor(root, switchOutlet) {
    this.head = root.querySelector("#tableHead");
    this.body = root.querySelector("#tableBody");
    this.spacer = root.querySelector("#tableSpacer");
    this.rows = root.querySelector("#tableRows");
    this.switchOutlet = switchOutlet;
    this.devices = new Map();
    this.sent = new Map(); // "id:n" -> {on, timer}
    this.sentStamp = 0; // counts changes of `sent`: a row drawn at another stamp is drawn again
    this.sort = { key: "id", up: true };
    this.filter = "";
    this.view = [];
    this.orderDirty = true;
    this.frame = 0;
    this.dataDirty = true;
    this.drawn = { first: 0, end: 0 }; // the view's rows in the page
    this.drawnIds = new Set();
    this.rowHeight = 28;
    this.onChange = () => {};
    this.buildHead();
    this.body.addEventListener("scroll", () => this.schedule(false, false), { passive: true });
    new ResizeObserver(() => this.schedule(false)).observe(this.body);
    this.rows.addEventListener("click", (e) => this.clicked(e));
  }

  buildHead() {
    for (const column of COLUMNS) {
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = column.title;
      button.dataset.key = column.key;
      button.addEventListener("click", () => this.sortBy(column.key));
      this.head.append(button);
    }
    this.markSort();
  }

  markSort() {
    for (const button of this.head.querySelectorAll("button")) {
      const sorted = button.dataset.key === this.sort.key;
      button.setAttribute("aria-sort", sorted ? (this.sort.up ? "ascending" : "descending") : "none");
    }
  }

  sortBy(key) {
    this.sort = { key, up: this.sort.key === key ? !this.sort.up : true };
    this.markSort();
    this.schedule(true);
  }

  setFilter(text) {
    this.filter = text.trim().toLowerCase();
    this.schedule(true);
  }

  // The whole list, as GET /api/devices gave it.
  replaceAll(list) {
    this.devices = new Map(list.map((d) => [d.id, d]));
    this.schedule(true);
  }

  // A device's new state from the event stream; what it confirms stops showing "sent".
  update(device) {
    const before = this.devices.get(device.id);
    this.devices.set(device.id, device);
    for (let n = 1; n <= OUTLETS && this.sent.size > 0; ++n) {
      const key = `${device.id}:${n}`;
      const pending = this.sent.get(key);
      if (pending && device.outlets[n - 1] === pending.on) this.clearSent(key);
    }
    const key = this.sort.key;
    const moved = !before || key === "outlets" || before[key] !== device[key] || this.filter !== "";
    // A device out of view changes nothing drawn, unless the order moves.
    this.schedule(moved, moved || this.drawnIds.has(device.id));
    return before;
  }

  remove(id) {
    const device = this.devices.get(id);
    if (!device) return undefined;
    this.devices.delete(id);
    for (let n = 1; n <= OUTLETS; ++n) this.clearSent(`${id}:${n}`);
    this.schedule(true);
    return device;
  }

  get(id) {
    return this.devices.get(id);
  }

  all() {
    return [...this.devices.values()];
  }

  clearSent(key) {
    const pending = this.sent.get(key);
    if (!pending) return;
    clearTimeout(pending.timer);
    this.sent.delete(key);
    ++this.sentStamp;
    this.schedule(false);
  }

  async clicked(event) {
    const dot = event.target.closest("button.dot");
    if (!dot || !this.switchOutlet) return;
    const id = Number(dot.closest(".row").dataset.id);
    const n = Number(dot.dataset.n);
    const device = this.devices.get(id);
    const key = `${id}:${n}`;
    if (!device || this.sent.has(key)) return;
    const on = !device.outlets[n - 1];
    const timer = setTimeout(() => this.clearSent(key), SENT_LIMIT_MS);
    this.sent.set(key, { on, timer });
    ++this.sentStamp;
    dot.classList.add("sent"); // at once, before any answer can come
    this.schedule(false);
    try {
      await this.switchOutlet(id, n, on);
    } catch (error) {
      this.clearSent(key);
      throw error;
    }
  }

  // Renders on the next frame; `reorder` when the order or the filter may have changed.
  // `data` false: only the scroll position moved.
  schedule(reorder, data = true) {
    this.orderDirty = this.orderDirty || reorder;
    this.dataDirty = this.dataDirty || data;
    if (!this.frame) this.frame = requestAnimationFrame(() => this.render());
  }

  matches(device) {
    if (!this.filter) return true;
    const f = this.filter;
    return (
      String(device.id).includes(f) ||
      device.name.toLowerCase().includes(f) ||
      device.ip.includes(f) ||
      groupText(device.group).toLowerCase().includes(f) ||
      String(device.group) === f
    );
  }

  order() {
    const column = COLUMNS.find((c) => c.key === this.sort.key);
    const value = column.order || ((d) => d[column.key]);
    const sign = this.sort.up ? 1 : -1;
    const list = this.all().filter((d) => this.matches(d));
    list.sort((a, b) => {
      const x = value(a);
      const y = value(b);
      const c = typeof x === "string" ? x.localeCompare(y, "zh-CN") : Number(x) - Number(y);
      return sign * (c || a.id - b.id);
    });
    this.view = list;
    this.orderDirty = false;
  }

  render() {
    this.frame = 0;
    if (this.orderDirty) {
      this.order();
      this.onChange(this.view.length, this.devices.size);
    }
    const height = this.rowHeight;
    // Geometry is read before anything is written, so a frame lays the page out once.
    const top = Math.floor(this.body.scrollTop / height);
    const visible = Math.ceil(this.body.clientHeight / height) + 1;
    // A scroll within the rows already drawn needs nothing: the page holds a screenful
    // above and below what is in view.
    if (!this.dataDirty && top >= this.drawn.first &&
        Math.min(top + visible, this.view.length) <= this.drawn.end) return;
    this.dataDirty = false;
    const first = Math.max(0, top - visible);
    const count = visible * 3;
    this.drawn = { first, end: Math.min(first + count, this.view.length) };
    // The title row stands over the columns whatever width the scroll bar takes.
    const bar = `${this.body.offsetWidth - this.body.clientWidth}px`;
    if (this.head.style.paddingRight !== bar) this.head.style.paddingRight = bar;
    const total = `${this.view.length * height}px`;
    if (this.spacer.style.height !== total) this.spacer.style.height = total;
    // The view keeps the order; each row shows the device's newest state.
    const shown = this.view.slice(first, first + count).map((d) => this.devices.get(d.id) || d);
    const offset = `translateY(${first * height}px)`;
    if (this.rows.style.transform !== offset) this.rows.style.transform = offset;
    // Keeps the row elements (and so the keyboard focus) where it can: rows are reused.
    while (this.rows.children.length > shown.length) this.rows.lastElementChild.remove();
    while (this.rows.children.length < shown.length) this.rows.append(this.makeRow());
    this.drawnIds = new Set(shown.map((d) => d.id));
    shown.forEach((device, i) => this.fillRow(this.rows.children[i], device));
  }

  makeRow() {
    const row = document.createElement("div");
    row.className = "row";
    row.setAttribute("role", "row");
    for (const column of COLUMNS) {
      const cell = document.createElement("span");
      cell.setAttribute("role", "gridcell");
      if (column.key === "outlets") {
        cell.className = "dots";
        for (let n = 1; n <= OUTLETS; ++n) {
          const dot = document.createElement(this.switchOutlet ? "button" : "span");
          if (this.switchOutlet) dot.type = "button";
          dot.className = "dot";
          dot.dataset.n = String(n);
          cell.append(dot);
        }
      }
      row.append(cell);
    }
    return row;
  }

  // Each device state from the stream is a new object: a row that shows the same object at the
  // same "sent" stamp is drawn already (at thousands of events a second most rows are).
  fillRow(row, device) {
    if (row.shownDevice === device && row.shownStamp === this.sentStamp) return;
    row.shownDevice = device;
    row.shownStamp = this.sentStamp;
    row.dataset.id = String(device.id);
    row.classList.toggle("offline", !device.online);
    COLUMNS.forEach((column, i) => {
      const cell = row.children[i];
      if (column.key !== "outlets") {
        const text = column.text(device);
        if (cell.textContent !== text) cell.textContent = text;
        return;
      }
      for (let n = 1; n <= OUTLETS; ++n) {
        const dot = cell.children[n - 1];
        const on = !!device.outlets[n - 1];
        const sent = this.sent.has(`${device.id}:${n}`);
        dot.classList.toggle("on", on);
        dot.classList.toggle("sent", sent);
        const label = `插座${n}: ${on ? "开" : "关"}${sent ? ", 已发送" : ""}`;
        if (dot.title !== label) {
          dot.title = label;
          dot.setAttribute("aria-label", `设备${device.id} ${label}`);
        }
      }
    });
  }
}
