// Calls of the HTTP API: the session's CSRF token on every change, and one place that
// notices an ended session.
const SESSION_KEY = "vantrel.session";

export class ApiError extends Error {
  constructor(status, text) {
    super(text);
    this.status = status;
  }
}

export class Api {
  constructor() {
    this.session = null; // {user, role, csrf}
    this.onExpired = () => {};
    try {
      this.session = JSON.parse(sessionStorage.getItem(SESSION_KEY));
    } catch {
      this.session = null;
    }
  }

  async login(user, password) {
    const reply = await fetch("/api/login", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ user, password }),
    });
    const body = await reply.json().catch(() => ({}));
    if (!reply.ok) throw new ApiError(reply.status, body.error || String(reply.status));
    this.session = { user: body.user, role: body.role, csrf: body.csrf };
    sessionStorage.setItem(SESSION_KEY, JSON.stringify(this.session));
    return this.session;
  }

  forget() {
    this.session = null;
    sessionStorage.removeItem(SESSION_KEY);
  }

  async logout() {
    try {
      await this.call("POST", "/api/logout");
    } finally {
      this.forget();
    }
  }

  // The JSON answer, or an ApiError; a 401 also ends the page's session.
  async call(method, path, body) {
    const headers = {};
    if (method !== "GET") headers["X-CSRF-Token"] = this.session ? this.session.csrf : "";
    if (body !== undefined) headers["Content-Type"] = "application/json";
    const reply = await fetch(path, {
      method,
      headers,
      body: body === undefined ? undefined : JSON.stringify(body),
      credentials: "same-origin",
    });
    const answer = await reply.json().catch(() => ({}));
    if (reply.status === 401 && this.session) {
      this.forget();
      this.onExpired();
    }
    if (!reply.ok) throw new ApiError(reply.status, answer.error || String(reply.status));
    return answer;
  }

  can(role) {
    const rank = { viewer: 1, operator: 2, admin: 3 };
    return !!this.session && (rank[this.session.role] || 0) >= rank[role];
  }
}
