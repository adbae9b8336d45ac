// The deck panel: one card per deck, fed by the deck's WebSocket; the keys
// send MCI command strings through the API while this page holds the deck's
// lease.
"use strict";

const store = {
  get name() { return localStorage.getItem("vtrd.name") || ""; },
  set name(v) { localStorage.setItem("vtrd.name", v); },
  get token() { return localStorage.getItem("vtrd.token") || ""; },
  set token(v) { localStorage.setItem("vtrd.token", v); },
};

// Each tab is its own client, so two tabs of one operator do not share a lease.
function tabId() {
  let id = sessionStorage.getItem("vtrd.tab");
  if (!id) {
    id = Math.random().toString(16).slice(2, 6);
    sessionStorage.setItem("vtrd.tab", id);
  }
  return id;
}

function clientName() {
  return `${store.name || "operator"}#${tabId()}`;
}

const TIMECODE = /^(\d{2}):(\d{2}):(\d{2})[:;](\d{2})$/;

// Why `text` is not a timecode of a deck at `rate` frames a second, or "".
function timecodeProblem(text, rate) {
  const m = TIMECODE.exec(text.trim());
  if (!m) return "a timecode is HH:MM:SS:FF";
  const [h, mi, s, f] = m.slice(1).map(Number);
  if (h > 23) return "hours go to 23";
  if (mi > 59 || s > 59) return "minutes and seconds go to 59";
  if (f >= rate) return `frames go to ${rate - 1}`;
  return "";
}

function frames(text, rate) {
  const [h, mi, s, f] = TIMECODE.exec(text.trim()).slice(1).map(Number);
  return ((h * 60 + mi) * 60 + s) * rate + f;
}

async function api(method, path, body) {
  const headers = { "X-Vtrd-Client": clientName(), "Authorization": `Bearer ${store.token}` };
  if (body !== undefined) headers["Content-Type"] = "application/json";
  let response;
  try {
    response = await fetch(path, {
      method, headers, body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch (e) {
    return { status: 0, answer: { ok: false, text: "the service does not answer" } };
  }
  let answer;
  try {
    answer = await response.json();
  } catch (e) {
    answer = { ok: false, text: `HTTP ${response.status}` };
  }
  return { status: response.status, answer };
}

function answerText(a) {
  if (a.ok) return `${a.command || ""} -> ${a.result !== undefined ? a.result : "ok"}`;
  let text = a.command ? `${a.command} -> ` : "";
  if (a.error !== undefined) text += `error ${a.error}: `;
  text += a.text || "refused";
  if (a.detail) text += ` (${a.detail})`;
  return text;
}

class Card {
  constructor(deck, root) {
    this.name = deck.name;
    this.state = deck;
    this.el = document.getElementById("card").content.firstElementChild.cloneNode(true);
    this.el.id = `deck-${deck.name}`;
    this.el.dataset.deck = deck.name;
    this.el.setAttribute("aria-label", `deck ${deck.name}`);
    const link = document.createElement("a");
    link.href = `/?deck=${encodeURIComponent(deck.name)}`;
    link.textContent = deck.name;
    this.$(".deck-name").append(link);
    root.append(this.el);
    this.shuttleTimer = null;
    this.renewing = false;
    this.wire();
    this.render();
    this.connect();
  }

  $(selector) { return this.el.querySelector(selector); }

  wire() {
    for (const b of this.el.querySelectorAll("[data-cmd]")) {
      b.addEventListener("click", () => this.send(b.dataset.cmd));
    }
    this.$(".take").addEventListener("click", () => this.take());
    this.$(".release").addEventListener("click", () => this.release());
    this.$(".open-deck").addEventListener("click", () => this.request("POST", "open"));
    this.$(".close-deck").addEventListener("click", () => this.request("POST", "close"));
    const slider = this.$(".shuttle-slider");
    slider.addEventListener("input", () => {
      this.$(".shuttle-value").textContent = slider.value;
      clearTimeout(this.shuttleTimer);  // a drag sends its latest value, not every step
      this.shuttleTimer = setTimeout(() => {
        const f = Number(slider.value);
        this.send(f === 0 ? "pause notify" : `shuttle factor ${f} notify`);
      }, 120);
    });
    const cue = this.$(".cue-input");
    cue.addEventListener("input", () => this.checkCue());
    this.$(".cue").addEventListener("submit", (e) => {
      e.preventDefault();
      if (this.checkCue()) this.send(`cue to ${cue.value.trim()} notify`);
    });
    this.$(".mark-in").addEventListener("click", () => {
      this.$(".in-point").value = this.state.timecode || "";
      this.checkMarks();
    });
    this.$(".mark-out").addEventListener("click", () => {
      this.$(".out-point").value = this.state.timecode || "";
      this.checkMarks();
    });
    this.$(".in-point").addEventListener("input", () => this.checkMarks());
    this.$(".out-point").addEventListener("input", () => this.checkMarks());
    this.$(".record").addEventListener("click", () => {
      if (!this.checkMarks()) return;
      const i = this.$(".in-point").value.trim(), o = this.$(".out-point").value.trim();
      this.$(".confirm-text").textContent =
        `Record on ${this.name} from ${i} to ${o}? What is on the tape between them is recorded over.`;
      this.$(".confirm").showModal();
    });
    this.$(".confirm").addEventListener("close", () => {
      if (this.$(".confirm").returnValue !== "record") return;
      const i = this.$(".in-point").value.trim(), o = this.$(".out-point").value.trim();
      this.send(`record from ${i} to ${o} notify`);
    });
  }

  rate() { return Number(this.state.frame_rate) || 30; }

  checkCue() {
    const text = this.$(".cue-input").value;
    const problem = text ? timecodeProblem(text, this.rate()) : "enter a timecode";
    this.$(".cue-check").textContent = text ? problem : "";
    this.$(".cue-go").disabled = this.locked || problem !== "";
    return problem === "";
  }

  checkMarks() {
    const i = this.$(".in-point").value, o = this.$(".out-point").value;
    let problem = "";
    if (!i || !o) problem = i || o ? "mark both points" : "";
    else problem = timecodeProblem(i, this.rate()) || timecodeProblem(o, this.rate());
    if (!problem && i && o && frames(o, this.rate()) <= frames(i, this.rate())) {
      problem = "the out point comes after the in point";
    }
    this.$(".marks-check").textContent = problem;
    this.$(".record").disabled = this.locked || !i || !o || problem !== "";
    return i && o && problem === "";
  }

  connect() {
    const scheme = location.protocol === "https:" ? "wss" : "ws";
    const ws = new WebSocket(`${scheme}://${location.host}/api/decks/${encodeURIComponent(this.name)}/ws`);
    ws.onmessage = (e) => this.receive(JSON.parse(e.data));
    ws.onclose = () => {
      this.connected = false;
      this.render();
      setTimeout(() => this.connect(), 1000);
    };
    ws.onopen = () => { this.connected = true; };
  }

  receive(m) {
    if (m.type === "state") {
      this.state = m;
      this.render();
    } else if (m.type === "notify") {
      this.state.last_notify = m;
      this.$(".last-notify").textContent = `${m.notify}: ${m.command}`;
    } else if (m.type === "answer" && m.client !== clientName()) {
      this.showAnswer(m, `${m.client}: `);
    }
  }

  mine() { return this.state.lease && this.state.lease.holder === clientName(); }

  // Why the keys are off, or "" when this page may use them.
  reason() {
    const s = this.state;
    if (this.connected === false) return "Connection to the service lost: reconnecting";
    if (!s.open) return `Closed${s.detail && s.detail !== "closed" ? ` (${s.detail})` : ""}: open the deck to use it`;
    if (!s.online) return `Offline: ${s.detail || "the deck does not answer"}`;
    if (!store.token) return "Watching: enter the control token to take control";
    if (s.lease && !this.mine()) return `Watching: ${s.lease.holder} is in control`;
    if (!this.mine()) return "Watching: take control to use the keys";
    return "";
  }

  render() {
    const s = this.state;
    this.el.classList.toggle("offline", !s.online || !s.open);
    this.el.classList.toggle("closed", !s.open);
    this.el.classList.toggle("mine", Boolean(this.mine()));
    this.$(".badge").textContent = !s.open ? "closed" : s.online ? "online" : "offline";
    this.$(".port").textContent = `${s.port} · ${s.device} · ${s.com}`;
    this.$(".timecode").textContent = s.timecode || "--:--:--:--";
    this.$(".mode").textContent = s.online ? s.mode : s.open ? "offline" : "closed";
    this.$(".speed").textContent = s.online && s.speed ? `speed ${s.speed}` : "";
    this.$(".owed").textContent = s.owed || "none";
    if (s.last_notify) {
      this.$(".last-notify").textContent = `${s.last_notify.notify}: ${s.last_notify.command}`;
    }
    this.$(".lease").textContent = this.mine() ? "You are in control"
      : s.lease ? `${s.lease.holder} is in control` : "Nobody is in control";
    const reason = this.reason();
    this.locked = reason !== "";
    this.$(".reason").textContent = reason;
    const keys = this.$(".keys");
    keys.disabled = this.locked;
    keys.title = reason;
    const free = !s.lease || this.mine();
    this.$(".take").hidden = Boolean(this.mine());
    this.$(".take").disabled = !store.token || !free;
    this.$(".release").hidden = !this.mine();
    this.$(".open-deck").hidden = s.open || !store.token;
    this.$(".open-deck").disabled = !free;
    this.$(".close-deck").hidden = !s.open || !this.mine();
    this.checkCue();
    this.checkMarks();
    // Renewed a third of the way through, so a late answer never lets it lapse.
    if (this.mine() && s.lease.expires_in < s.lease.seconds * 2 / 3 && !this.renewing) this.take(true);
  }

  showAnswer(a, prefix = "") {
    const el = this.$(".answer");
    el.textContent = prefix + answerText(a);
    el.classList.toggle("bad", !a.ok);
  }

  async request(method, what, body) {
    const { status, answer } = await api(method, `/api/decks/${encodeURIComponent(this.name)}/${what}`, body);
    if (status === 401) {
      setIdentityStatus("The token was refused", true);
    }
    this.showAnswer(answer);
    return { status, answer };
  }

  send(command) {
    if (this.locked) return;
    this.request("POST", "command", { command });
  }

  async take(renewal = false) {
    this.renewing = true;
    const { answer } = await this.request("POST", "lease");
    this.renewing = false;
    if (answer.ok) {
      this.state.lease = answer.lease;
      if (!renewal) this.showAnswer({ ok: true, command: "take control", result: "yours" });
      this.render();
    }
  }

  async release() {
    const { answer } = await this.request("DELETE", "lease");
    if (answer.ok) {
      this.state.lease = null;
      this.render();
    }
  }
}

function setIdentityStatus(text, bad = false) {
  const el = document.getElementById("identity-status");
  el.textContent = text;
  el.classList.toggle("bad", bad);
}

const cards = [];

async function start() {
  const nameInput = document.getElementById("name");
  const tokenInput = document.getElementById("token");
  nameInput.value = store.name;
  tokenInput.value = store.token;
  document.getElementById("identity").addEventListener("submit", (e) => {
    e.preventDefault();
    store.name = nameInput.value.trim();
    store.token = tokenInput.value.trim();
    setIdentityStatus(store.token ? `Controls as ${clientName()}` : "Watching only");
    for (const c of cards) c.render();
  });
  if (store.token) setIdentityStatus(`Controls as ${clientName()}`);
  const response = await fetch("/api/decks");
  const { decks } = await response.json();
  const only = new URLSearchParams(location.search).get("deck");
  const root = document.getElementById("decks");
  const shown = only ? decks.filter((d) => d.name === only) : decks;
  root.classList.toggle("single", shown.length === 1);
  document.getElementById("empty").hidden = shown.length > 0;
  for (const d of shown) cards.push(new Card(d, root));
  // Control ends with the page rather than when the lease runs out.
  addEventListener("pagehide", () => {
    for (const c of cards) {
      if (c.mine()) {
        fetch(`/api/decks/${encodeURIComponent(c.name)}/lease`, {
          method: "DELETE", keepalive: true,
          headers: { "X-Vtrd-Client": clientName(), "Authorization": `Bearer ${store.token}` },
        });
      }
    }
  });
}

start();
