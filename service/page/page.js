// kelvaned's page: the fleet from /api/events, kept up to date as the events come, and the
// operations of each monitor posted to the API. Every value from a monitor goes in as text.
"use strict";

// The words of kelvaned's failures and the sources' names come with the first "fleet" event: the
// page keeps no copy of them.
let words = { failures: {}, sources: [] };

// The operations' buttons, in the order they show: a switch to each source, Reset, Diagnostic.
let OPERATIONS = [];

function makeOperations(sources) {
    return [
        ...sources.map((source) => ({
            label: source,
            path: "source",
            body: { source },
            busy: "switching to " + source + "…",
        })),
        {
            label: "Reset",
            path: "reset",
            busy: "resetting…",
            confirm: (name) => "Reset " + name + " to its factory settings?",
        },
        {
            label: "Diagnostic",
            path: "diagnostic",
            busy: "starting the diagnostic…",
            confirm: (name) => "Start the diagnostic on " + name + "? Its screen shows test patterns.",
        },
    ];
}

const TOKEN_KEY = "kelvaned-token";
// How long the page waits before it opens a stream that kelvaned turned away or that failed.
const RECONNECT_MS = 2000;

const rows = new Map(); // name -> row
const sections = new Map(); // target -> its section
let skewMs = 0; // kelvaned's clock less the browser's
let pendingToken = null; // the open token question, shared by the rows that ask at once

function byId(id) {
    return document.getElementById(id);
}

function errorWords(code) {
    return words.failures[code] || code;
}

// "12 s ago", "4 min ago", "3 h ago", "2 d ago"; "never".
function ago(lastOk) {
    if (!lastOk)
        return "never";
    const seconds = Math.max(0, Math.floor((Date.now() + skewMs - Date.parse(lastOk)) / 1000));
    if (seconds < 60)
        return seconds + " s ago";
    if (seconds < 3600)
        return Math.floor(seconds / 60) + " min ago";
    if (seconds < 86400)
        return Math.floor(seconds / 3600) + " h ago";
    return Math.floor(seconds / 86400) + " d ago";
}

// The state as words, the reason for a failure, and a class for its colour: the words alone
// must tell it.
function stateOf(m) {
    if (m.reachable)
        return { text: "answering", why: "", kind: "up" };
    if (!m.error)
        return { text: "not polled yet", why: "", kind: "unknown" };
    return { text: "not answering", why: errorWords(m.error), kind: "down" };
}

// The operations' buttons go into the row's template once, when kelvaned has named the sources;
// each row is a copy of it.
function prepareTemplate(fleetWords) {
    if (OPERATIONS.length > 0)
        return;
    words = fleetWords;
    OPERATIONS = makeOperations(words.sources);
    const actions = byId("monitor").content.querySelector(".actions");
    OPERATIONS.forEach((operation, i) => {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = operation.label;
        button.className = operation.confirm ? "op careful" : "op";
        button.dataset.operation = String(i);
        if (operation.body)
            button.setAttribute("aria-pressed", "false");
        actions.append(button);
    });
}

function makeRow(m) {
    const li = byId("monitor").content.firstElementChild.cloneNode(true);
    const cell = (name) => li.querySelector("." + name + " .value");
    const row = {
        li,
        name: m.name,
        target: m.target,
        monitor: m,
        cells: {},
        buttons: [...li.querySelectorAll(".actions button")],
        busy: false,
    };
    for (const name of ["name", "unit", "state", "source", "signal", "firmware", "last", "result"])
        row.cells[name] = cell(name);
    row.cells.why = li.querySelector(".state .why");
    row.cells.name.textContent = m.name;
    li.dataset.name = m.name;
    li.querySelector(".actions").setAttribute("aria-label", "Operations on " + m.name);
    row.buttons.forEach((button, i) =>
        button.setAttribute("aria-label", OPERATIONS[i].label + " on " + m.name));
    return row;
}

// One listener for every row's buttons.
function onClick(event) {
    const button = event.target.closest("button[data-operation]");
    const li = button && button.closest(".monitor");
    if (!li)
        return;
    operate(rows.get(li.dataset.name), OPERATIONS[Number(button.dataset.operation)], button);
}

// Writes a text only when it differs: a poll that changed nothing shown changes nothing in the
// page, so the browser has nothing to lay out again.
function setText(element, text) {
    if (element.textContent !== text)
        element.textContent = text;
}

function showMonitor(row, m) {
    row.monitor = m;
    const state = stateOf(m);
    const c = row.cells;
    setText(c.unit, m.unit === null ? "?" : String(m.unit));
    setText(c.state, state.text);
    setText(c.why, state.why);
    setText(c.source, m.source || "?");
    setText(c.signal, m.signal === null ? "?" : m.signal === "ok" ? "ok" : "no signal");
    setText(c.firmware, m.firmware === null ? "?" : m.firmware);
    setText(c.last, ago(m.last_ok));
    for (const kind of ["up", "down", "unknown"])
        row.li.classList.toggle(kind, kind === state.kind);
    row.li.classList.toggle("no-signal", m.reachable && m.signal === "none");
    // The button of the input the monitor is on shows pressed.
    OPERATIONS.forEach((operation, i) => {
        if (operation.body)
            row.buttons[i].setAttribute("aria-pressed", String(operation.label === m.source));
    });
}

// "62 of 64 answering · 3 without signal" on top, "8 of 8 answering" on each line.
function showSummaries() {
    let answering = 0;
    let withoutSignal = 0;
    const lines = new Map(); // target -> [answering, monitors]
    for (const { monitor: m } of rows.values()) {
        const line = lines.get(m.target) || [0, 0];
        line[0] += m.reachable ? 1 : 0;
        line[1] += 1;
        lines.set(m.target, line);
        answering += m.reachable ? 1 : 0;
        withoutSignal += m.reachable && m.signal === "none" ? 1 : 0;
    }
    let text = answering + " of " + rows.size + " answering";
    if (withoutSignal > 0)
        text += " · " + withoutSignal + " without signal";
    setText(byId("summary"), text);
    for (const [target, section] of sections) {
        const [lineAnswering, lineMonitors] = lines.get(target);
        setText(section.querySelector(".line-summary"),
                lineAnswering + " of " + lineMonitors + " answering");
    }
}

// The whole fleet: rows kept for the monitors that stay (with an operation under way and its
// result), grouped by line in the configuration's order.
function showFleet(fleet) {
    prepareTemplate(fleet.words);
    skewMs = Date.parse(fleet.now) - Date.now();
    sections.clear();
    const kept = new Map();
    for (const m of fleet.monitors) {
        let row = rows.get(m.name);
        if (!row || row.target !== m.target)
            row = makeRow(m);
        kept.set(m.name, row);
        showMonitor(row, m);
        if (!sections.has(m.target)) {
            const section = byId("line").content.firstElementChild.cloneNode(true);
            section.querySelector(".target").textContent = m.target;
            sections.set(m.target, section);
        }
        sections.get(m.target).querySelector(".monitors").append(row.li);
    }
    rows.clear();
    for (const [name, row] of kept)
        rows.set(name, row);
    byId("lines").replaceChildren(...sections.values());
    showSummaries();
    applyFilter();
}

function showChange(m) {
    const row = rows.get(m.name);
    if (!row)
        return;
    showMonitor(row, m);
    showSummaries();
}

function applyFilter() {
    const wanted = byId("filter").value.trim().toLowerCase();
    let shown = 0;
    for (const section of byId("lines").children) {
        let sectionShown = 0;
        for (const li of section.querySelectorAll(".monitor")) {
            const row = rows.get(li.dataset.name);
            const match = !wanted || row.name.toLowerCase().includes(wanted) ||
                row.target.toLowerCase().includes(wanted);
            li.hidden = !match;
            sectionShown += match ? 1 : 0;
        }
        section.hidden = sectionShown === 0;
        shown += sectionShown;
    }
    byId("nothing").hidden = shown > 0 || rows.size === 0;
}

function showConnection(kind, text) {
    const connection = byId("connection");
    connection.className = "connection " + kind;
    connection.textContent = text;
}

function connect() {
    const events = new EventSource("/api/events");
    events.addEventListener("fleet", (event) => {
        showConnection("live", "live");
        showFleet(JSON.parse(event.data));
    });
    events.addEventListener("monitor", (event) => showChange(JSON.parse(event.data)));
    events.addEventListener("error", () => {
        showConnection("lost", "kelvaned is not reachable: trying again…");
        // The browser opens a dropped stream again by itself, but not one that was answered
        // with an error status (kelvaned turning a stream away, a proxy in trouble).
        if (events.readyState === EventSource.CLOSED) {
            events.close();
            setTimeout(connect, RECONNECT_MS);
        }
    });
}

// Asks for the token in the page's dialog; the answer, or null when it was cancelled.
function askToken() {
    if (pendingToken)
        return pendingToken;
    const dialog = byId("token-dialog");
    const input = byId("token");
    pendingToken = new Promise((resolve) => {
        const finish = (token) => {
            byId("token-form").removeEventListener("submit", submit);
            byId("token-cancel").removeEventListener("click", cancel);
            dialog.removeEventListener("cancel", cancel);
            input.value = "";
            if (dialog.open)
                dialog.close();
            pendingToken = null;
            resolve(token);
        };
        const submit = (event) => {
            event.preventDefault();
            finish(input.value.trim() || null);
        };
        const cancel = (event) => {
            event.preventDefault();
            finish(null);
        };
        byId("token-form").addEventListener("submit", submit);
        byId("token-cancel").addEventListener("click", cancel);
        dialog.addEventListener("cancel", cancel);
        dialog.showModal();
        input.focus();
    });
    return pendingToken;
}

// Posts the operation, asking for the token when kelvaned wants one; the result as
// { ok, text } for the row.
async function post(name, operation) {
    for (let asked = false; ;) {
        const token = sessionStorage.getItem(TOKEN_KEY);
        const headers = { "Content-Type": "application/json" };
        if (token)
            headers.Authorization = "Bearer " + token;
        let response;
        let body = null;
        try {
            response = await fetch(
                "/api/monitors/" + encodeURIComponent(name) + "/" + operation.path,
                { method: "POST", headers, body: JSON.stringify(operation.body || {}) });
            body = await response.json().catch(() => null);
        } catch (error) {
            return { ok: false, text: "failed: kelvaned did not answer" };
        }
        if (response.status === 401 && !asked) {
            asked = true;
            const given = await askToken();
            if (!given)
                return { ok: false, text: "not sent: no token given" };
            sessionStorage.setItem(TOKEN_KEY, given);
            continue;
        }
        if (response.status === 403 && token) {
            // Forgotten, so that the next operation asks again.
            sessionStorage.removeItem(TOKEN_KEY);
            return { ok: false, text: "refused by kelvaned: the token is wrong" };
        }
        if (body && typeof body.ok === "boolean")
            return body.ok ? { ok: true, text: "done" }
                : { ok: false, text: "failed: " + errorWords(body.error) };
        const reason = body && typeof body.error === "string" ? body.error
            : "HTTP status " + response.status;
        return { ok: false, text: "failed: " + reason };
    }
}

function setBusy(row, busy) {
    row.busy = busy;
    row.li.classList.toggle("busy", busy);
    row.li.setAttribute("aria-busy", String(busy));
    for (const button of row.buttons)
        button.disabled = busy;
}

async function operate(row, operation, button) {
    if (row.busy)
        return;
    if (operation.confirm && !window.confirm(operation.confirm(row.name)))
        return;
    const result = row.cells.result;
    setBusy(row, true);
    result.className = "value busy";
    result.textContent = operation.busy;
    const outcome = await post(row.name, operation);
    setBusy(row, false);
    result.className = "value " + (outcome.ok ? "done" : "failed");
    result.textContent = outcome.text;
    // A disabled button loses the focus; the keyboard user gets it back where it was.
    if (document.activeElement === document.body && button.isConnected)
        button.focus();
}

function tick() {
    for (const row of rows.values())
        setText(row.cells.last, ago(row.monitor.last_ok));
}

byId("lines").addEventListener("click", onClick);
byId("filter").addEventListener("input", applyFilter);
setInterval(tick, 1000);
connect();
