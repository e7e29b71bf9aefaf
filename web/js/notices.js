// Notices the operator dismisses: id conflicts, lost devices, refused commands.
export class Notices {
  constructor(root) {
    this.root = root;
    this.shown = new Map(); // key -> element
  }

  // Shows `text` once per `key` (a notice already shown is not repeated).
  add(text, key = text) {
    if (this.shown.has(key)) return;
    const element = document.createElement("div");
    element.className = "notice";
    const label = document.createElement("span");
    label.className = "text";
    label.textContent = text;
    const close = document.createElement("button");
    close.type = "button";
    close.textContent = "知道了";
    close.addEventListener("click", () => this.remove(key));
    element.append(label, close);
    this.root.append(element);
    this.shown.set(key, element);
  }

  remove(key) {
    const element = this.shown.get(key);
    if (!element) return;
    element.remove();
    this.shown.delete(key);
  }

  clear() {
    for (const key of [...this.shown.keys()]) this.remove(key);
  }
}
