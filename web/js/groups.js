// Group runs: the four switching buttons for the chosen group, the power-off question with
// the devices in switching order, and the run panel fed by the event stream.
import { deviceName, runStatus, runTitle } from "./texts.js";

// A finished run that went well leaves the panel after this long; others wait for 知道了.
const DONE_LINGER_MS = 10000;

// The devices a run would switch, in the order it switches them: the group's devices of that
// kind (serial: mode 1, parallel: mode 0) not yet in the wanted state, by number.
export function switchingOrder(devices, group, kind, on) {
  const serial = kind === "serial";
  return devices
    .filter((d) => d.group === group && !!d.mode === serial && !!d.master !== on)
    .sort((a, b) => a.number - b.number || a.id - b.id);
}

// Asks `text` with `detail`; resolves true for 确定. Escape and 取消 answer no.
export function ask(text, detail) {
  const dialog = document.getElementById("question");
  document.getElementById("questionText").textContent = text;
  document.getElementById("questionDetail").textContent = detail;
  dialog.returnValue = "";
  return new Promise((resolve) => {
    dialog.addEventListener("close", () => resolve(dialog.returnValue === "yes"), { once: true });
    dialog.showModal();
    document.getElementById("questionNo").focus();
  });
}

export class Groups {
  constructor(api, table, notify) {
    this.api = api;
    this.table = table;
    this.notify = notify;
    this.panel = document.getElementById("runPanel");
    this.runs = new Map(); // id -> {run, at, element}
    this.select = document.getElementById("groupSelect");
    for (let g = 1; g <= 6; ++g) this.select.add(new Option(`Link${g}`, String(g)));
    for (const button of document.querySelectorAll(".groupRun")) {
      button.addEventListener("click", () =>
        this.start(Number(this.select.value), button.dataset.kind, button.dataset.on === "1"),
      );
    }
    this.ticker = setInterval(() => this.tick(), 500);
  }

  async start(group, kind, on) {
    if (!on) {
      const order = switchingOrder(this.table.all(), group, kind, on);
      if (order.length > 0) {
        const names = order.map(deviceName);
        const detail =
          kind === "serial" ? `切换顺序: ${names.join(" → ")}` : `设备: ${names.join(", ")}`;
        if (!(await ask(`确定要关闭Link${group}的${order.length}台设备吗?`, detail))) return;
      }
    }
    try {
      const answer = await this.api.call("POST", `/api/groups/${group}/runs`, { kind, on });
      if (answer.run == null) {
        this.notify("未选择分组");
        return;
      }
      // The run's state may be here before its first event.
      this.show(await this.api.call("GET", `/api/runs/${answer.run}`));
    } catch (error) {
      this.notify(`${runTitle({ kind, on, group })}: ${error.message}`);
    }
  }

  // A run's state, from the event stream or a GET.
  show(run) {
    let entry = this.runs.get(run.run);
    if (!entry) {
      entry = { element: this.makeRow(run.run) };
      this.runs.set(run.run, entry);
      this.panel.append(entry.element);
    }
    // Events can overtake a GET's answer: a run never goes back to running.
    if (entry.run && entry.run.state !== "running" && run.state === "running") return;
    entry.run = run;
    entry.at = performance.now();
    this.refresh(entry);
    if (run.state === "done") {
      clearTimeout(entry.linger);
      entry.linger = setTimeout(() => this.drop(run.run), DONE_LINGER_MS);
    }
  }

  makeRow(id) {
    const element = document.createElement("div");
    element.className = "run";
    element.dataset.run = String(id);
    element.innerHTML =
      '<span class="text"></span><progress max="1" value="0"></progress>' +
      '<button type="button" class="op cancel">取消</button>' +
      '<button type="button" class="dismiss">知道了</button>';
    element.querySelector(".cancel").addEventListener("click", async (e) => {
      e.target.disabled = true;
      try {
        await this.api.call("DELETE", `/api/runs/${id}`);
      } catch (error) {
        e.target.disabled = false;
        this.notify(error.message);
      }
    });
    element.querySelector(".dismiss").addEventListener("click", () => this.drop(id));
    return element;
  }

  refresh(entry) {
    const { run, element } = entry;
    const running = run.state === "running";
    const elapsed = running ? run.elapsedMs + (performance.now() - entry.at) : run.elapsedMs;
    element.className = `run ${run.state}`;
    element.querySelector(".text").textContent = `${runTitle(run)}: ${runStatus(run, elapsed)}`;
    const bar = element.querySelector("progress");
    bar.max = Math.max(1, run.total);
    bar.value = run.done;
    element.querySelector(".cancel").hidden = !running;
    element.querySelector(".dismiss").hidden = running;
  }

  tick() {
    for (const entry of this.runs.values()) {
      if (entry.run.state === "running") this.refresh(entry);
    }
  }

  drop(id) {
    const entry = this.runs.get(id);
    if (!entry) return;
    clearTimeout(entry.linger);
    entry.element.remove();
    this.runs.delete(id);
  }
}
