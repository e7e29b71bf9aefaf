// The log: newest first, a page at a time, filtered by dates and type; the same rows as CSV.
const PAGE = 50;

export class LogView {
  constructor(api, notify) {
    this.api = api;
    this.notify = notify;
    this.rows = document.getElementById("logRows");
    this.info = document.getElementById("logInfo");
    this.older = document.getElementById("logOlder");
    this.newer = document.getElementById("logNewer");
    this.csv = document.getElementById("logCsv");
    this.pages = []; // the "before" of each page shown so far (null: the newest)
    this.next = null;
    document.getElementById("logForm").addEventListener("submit", (e) => {
      e.preventDefault();
      this.load(null, true);
    });
    this.older.addEventListener("click", () => this.load(this.next, false));
    this.newer.addEventListener("click", () => {
      this.pages.pop();
      this.load(this.pages.pop() ?? null, false);
    });
  }

  query(before) {
    const q = new URLSearchParams();
    const from = document.getElementById("logFrom").value;
    const to = document.getElementById("logTo").value;
    const type = document.getElementById("logType").value;
    if (from) q.set("from", from);
    if (to) q.set("to", to);
    if (type) q.set("type", type);
    q.set("limit", String(PAGE));
    if (before != null) q.set("before", String(before));
    return q;
  }

  async load(before, fresh) {
    if (fresh) this.pages = [];
    const q = this.query(before);
    let answer;
    try {
      answer = await this.api.call("GET", `/api/log?${q}`);
    } catch (error) {
      this.notify(`日志: ${error.message}`);
      return;
    }
    this.pages.push(before);
    this.next = answer.next;
    this.csv.href = `/api/log.csv?${q}`;
    const offset = (this.pages.length - 1) * PAGE;
    this.rows.replaceChildren(
      ...answer.rows.map((row, i) => {
        const tr = document.createElement("tr");
        tr.dataset.seq = String(row.seq);
        for (const text of [offset + i + 1, row.date, row.time, row.typeText, row.subTypeText, row.text]) {
          const td = document.createElement("td");
          td.textContent = String(text);
          tr.append(td);
        }
        return tr;
      }),
    );
    this.older.disabled = answer.next == null;
    this.newer.disabled = this.pages.length < 2;
    this.info.textContent = `第${this.pages.length}页, ${answer.rows.length}条`;
  }
}
