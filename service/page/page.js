// kelvaned's page: the fleet from api/events, kept up to date as the events come, the problems
// first, and the operations of each monitor and each group posted to the API. Every value from a
// monitor goes in as text. Every address is relative, so that a proxy may serve the page on a
// path of its own.
"use strict";

// The words of kelvaned's failures and the sources' names come with the first "fleet" event: the
// page keeps no copy of them.
let words = { failures: {}, sources: [] };

// The operations' buttons, in the order they show: a switch to each source, Reset, Diagnostic.
// what(target) names what an operation touches: "m1-2", or "12 monitors of lobby".
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
            confirm: (what) => "Reset " + what + "? The factory settings come back.",
        },
        {
            label: "Diagnostic",
            path: "diagnostic",
            busy: "starting the diagnostic…",
            confirm: (what) =>
                "Start the diagnostic on " + what + "? The screen shows test patterns.",
        },
    ];
}

// The kinds of state, in the order the lists show them: what does not answer first, then what
// answers without a signal. A monitor not polled yet keeps its place among the fine ones, so
// that the first sweep does not shuffle the list.
const KINDS = {
    down: { rank: 0, hash: "not-answering", words: "not answering" },
    "no-signal": { rank: 1, hash: "no-signal", words: "without signal" },
    unknown: { rank: 2, hash: "not-polled", words: "not polled yet" },
    up: { rank: 2, hash: "fine", words: "fine" },
};
const SUMMARY_ORDER = ["unknown", "down", "no-signal", "up"];

const TOKEN_KEY = "kelvaned-token";
const PROBLEMS_KEY = "kelvaned-problems-only";
// How long the page waits before it opens a stream that kelvaned turned away or that failed.
const RECONNECT_MS = 2000;
// The log of operations: how many, and how often it is asked for at most and at least.
const LOG_LIMIT = 20;
const LOG_GAP_MS = 1000;
const LOG_EVERY_MS = 30000;

const rows = new Map(); // name -> row
const sections = new Map(); // line -> its section, in the configuration's order
let skewMs = 0; // kelvaned's clock less the browser's
let pendingToken = null; // the open token question, shared by the rows that ask at once
let logAbsent = false; // kelvaned answered 404: this version keeps no log
let logTimer = null;
let logLast = 0;

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

const two = (n) => String(n).padStart(2, "0");

// The local time of an RFC 3339 moment: "09:14", with the day before it when it is not today.
function clock(moment, seconds) {
    const date = new Date(moment);
    if (Number.isNaN(date.getTime()))
        return "";
    let text = two(date.getHours()) + ":" + two(date.getMinutes());
    if (seconds)
        text += ":" + two(date.getSeconds());
    if (date.toDateString() !== new Date().toDateString())
        text = date.toLocaleDateString(undefined, { day: "numeric", month: "short" }) + " " + text;
    return text;
}

// The state as words, the reason for a failure, and its kind (for the colour, the order and
// the summary): the words alone must tell it.
function stateOf(m) {
    if (m.reachable) {
        const kind = m.signal === "none" ? "no-signal" : "up";
        return { text: "answering", why: "", kind };
    }
    if (!m.error)
        return { text: "not polled yet", why: "", kind: "unknown" };
    return { text: "not answering", why: errorWords(m.error), kind: "down" };
}

// The operations' buttons go into the rows' and the groups' templates once, when kelvaned has
// named the sources; each row is a copy of them.
function prepareTemplates(fleetWords) {
    if (OPERATIONS.length > 0)
        return;
    words = fleetWords;
    OPERATIONS = makeOperations(words.sources);
    for (const id of ["monitor", "group"]) {
        const actions = byId(id).content.querySelector(".actions");
        OPERATIONS.forEach((operation, i) => {
            const button = document.createElement("button");
            button.type = "button";
            button.textContent = operation.label;
            button.className = operation.confirm ? "op careful" : "op";
            button.dataset.operation = String(i);
            if (operation.body && id === "monitor")
                button.setAttribute("aria-pressed", "false");
            actions.append(button);
        });
    }
}

function makeRow(m, index) {
    const li = byId("monitor").content.firstElementChild.cloneNode(true);
    const cell = (name) => li.querySelector("." + name + " .value");
    const row = {
        li,
        index, // in the configuration, for a stable order within a kind
        name: m.name,
        target: m.target,
        monitor: m,
        kind: null,
        search: "",
        cells: {},
        buttons: [...li.querySelectorAll(".actions button")],
        busy: false,
    };
    for (const name of ["name", "unit", "state", "source", "signal", "firmware", "last", "result"])
        row.cells[name] = cell(name);
    row.cells.why = li.querySelector(".state .why");
    row.cells.since = li.querySelector(".state .since");
    row.cells.name.textContent = m.name;
    li.dataset.name = m.name;
    li.querySelector(".more").setAttribute("aria-label", m.name + ": values and operations");
    li.querySelector(".actions").setAttribute("aria-label", "Operations on " + m.name);
    row.buttons.forEach((button, i) =>
        button.setAttribute("aria-label", OPERATIONS[i].label + " on " + m.name));
    return row;
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
    const signal = m.signal === null ? "?" : m.signal === "ok" ? "ok" : "no signal";
    setText(c.unit, m.unit === null ? "?" : String(m.unit));
    setText(c.state, state.text);
    setText(c.since, m.changed ? "since " + clock(m.changed) : "");
    setText(c.why, state.why);
    setText(c.source, m.source || "?");
    setText(c.signal, signal);
    setText(c.firmware, m.firmware === null ? "?" : m.firmware);
    setText(c.last, ago(m.last_ok));
    row.kind = state.kind;
    for (const kind of Object.keys(KINDS))
        row.li.classList.toggle(kind, kind === state.kind);
    // What the filter box finds it by: what the row shows, and the summary's words.
    row.search = [m.name, m.line, m.target, state.text, state.why, KINDS[state.kind].words,
                  state.kind === "no-signal" ? signal : "", m.source || ""]
        .join("\n").toLowerCase();
    // The button of the input the monitor is on shows pressed.
    OPERATIONS.forEach((operation, i) => {
        if (operation.body)
            row.buttons[i].setAttribute("aria-pressed", String(operation.label === m.source));
    });
}

// "2 not answering · 1 without signal · 61 fine" on top, each count a link that shows only
// those monitors; "8 of 8 answering" on each line.
function showSummaries() {
    const counts = { down: 0, "no-signal": 0, unknown: 0, up: 0 };
    const lines = new Map(); // line -> [answering, monitors]
    for (const row of rows.values()) {
        counts[row.kind] += 1;
        const line = lines.get(row.monitor.line) || [0, 0];
        line[0] += row.monitor.reachable ? 1 : 0;
        line[1] += 1;
        lines.set(row.monitor.line, line);
    }
    const summary = byId("summary");
    const kinds = SUMMARY_ORDER.filter((kind) => kind !== "unknown" || counts.unknown > 0);
    const text = kinds.map((kind) => counts[kind] + " " + KINDS[kind].words).join(" · ");
    if (summary.dataset.text !== text) {
        summary.dataset.text = text;
        const parts = kinds.flatMap((kind, i) => {
            const link = document.createElement("a");
            link.href = "#" + KINDS[kind].hash;
            link.className = "count " + (counts[kind] > 0 ? kind : "none");
            link.textContent = counts[kind] + " " + KINDS[kind].words;
            return i > 0 ? [" · ", link] : [link];
        });
        const all = document.createElement("a");
        all.href = "#";
        all.className = "all";
        all.textContent = "show all";
        summary.replaceChildren(...parts, " ", all);
        markChosenKind();
    }
    for (const [line, section] of sections) {
        const [lineAnswering, lineMonitors] = lines.get(line);
        setText(section.querySelector(".line-summary"),
                lineAnswering + " of " + lineMonitors + " answering");
    }
}

const rankOf = (row) => KINDS[row.kind].rank;

// Puts the lines and each line's monitors in their order: a line with a monitor not answering
// first, then one with a monitor without signal, each in the configuration's order otherwise.
// Moves nothing that is in its place already, and gives the focus back to a moved button.
function placeRows() {
    const focused = document.activeElement;
    const order = [...sections.values()].map((section, index) => {
        const members = [...section.querySelectorAll(".monitor")]
            .map((li) => rows.get(li.dataset.name))
            .sort((a, b) => rankOf(a) - rankOf(b) || a.index - b.index);
        return { section, members, index, rank: Math.min(...members.map(rankOf)) };
    });
    order.sort((a, b) => a.rank - b.rank || a.index - b.index);
    const lines = byId("lines");
    if (order.some(({ section }, i) => lines.children[i] !== section))
        lines.append(...order.map(({ section }) => section));
    for (const { section, members } of order) {
        const list = section.querySelector(".monitors");
        if (members.some((row, i) => list.children[i] !== row.li))
            list.append(...members.map((row) => row.li));
    }
    if (focused && focused !== document.activeElement && focused.isConnected)
        focused.focus({ preventScroll: true });
}

// The whole fleet: rows kept for the monitors that stay (with an operation under way and its
// result), grouped by line.
function showFleet(fleet) {
    prepareTemplates(fleet.words);
    skewMs = Date.parse(fleet.now) - Date.now();
    sections.clear();
    const kept = new Map();
    fleet.monitors.forEach((m, index) => {
        let row = rows.get(m.name);
        if (!row || row.target !== m.target)
            row = makeRow(m, index);
        row.index = index;
        kept.set(m.name, row);
        showMonitor(row, m);
        if (!sections.has(m.line)) {
            const section = byId("line").content.firstElementChild.cloneNode(true);
            section.querySelector(".line-name").textContent = m.line;
            // A named line tells its target too.
            section.querySelector(".target").textContent = m.line === m.target ? "" : m.target;
            sections.set(m.line, section);
        }
        sections.get(m.line).querySelector(".monitors").append(row.li);
    });
    rows.clear();
    for (const [name, row] of kept)
        rows.set(name, row);
    byId("lines").replaceChildren(...sections.values());
    showSummaries();
    placeRows();
    applyFilter();
    loadGroups();
    logAbsent = false;
    refreshLog();
}

function showChange(m) {
    const row = rows.get(m.name);
    if (!row)
        return;
    const [kind, search] = [row.kind, row.search];
    showMonitor(row, m);
    showSummaries();
    if (row.kind !== kind)
        placeRows();
    if (row.kind !== kind || row.search !== search)
        applyFilter();
    refreshLog();
}

// The kind the address chooses (#not-answering, #no-signal, #fine, #not-polled), or null.
function chosenKind() {
    const hash = location.hash.slice(1);
    return Object.keys(KINDS).find((kind) => KINDS[kind].hash === hash) || null;
}

function markChosenKind() {
    const chosen = chosenKind();
    for (const link of byId("summary").querySelectorAll("a.count")) {
        if (link.getAttribute("href") === "#" + (chosen && KINDS[chosen].hash))
            link.setAttribute("aria-current", "true");
        else
            link.removeAttribute("aria-current");
    }
    const all = byId("summary").querySelector("a.all");
    if (all)
        all.hidden = chosen === null;
}

// Shows the monitors that the summary's chosen kind, the problems switch and the filter box all
// let through; the box finds names, lines, states and sources.
function applyFilter() {
    const wanted = byId("filter").value.trim().toLowerCase();
    const kind = chosenKind();
    const problemsOnly = byId("problems").checked;
    let shown = 0;
    for (const section of sections.values()) {
        let sectionShown = 0;
        for (const li of section.querySelectorAll(".monitor")) {
            const row = rows.get(li.dataset.name);
            const match = (!kind || row.kind === kind) &&
                (!problemsOnly || row.kind === "down" || row.kind === "no-signal") &&
                (!wanted || row.search.includes(wanted));
            li.hidden = !match;
            sectionShown += match ? 1 : 0;
        }
        section.hidden = sectionShown === 0;
        shown += sectionShown;
    }
    byId("nothing").hidden = shown > 0 || rows.size === 0;
}

function onHashChange() {
    markChosenKind();
    applyFilter();
    window.scrollTo(0, 0);
}

function onProblemsSwitch() {
    if (byId("problems").checked)
        sessionStorage.setItem(PROBLEMS_KEY, "1");
    else
        sessionStorage.removeItem(PROBLEMS_KEY);
    applyFilter();
}

function showConnection(kind, text) {
    const connection = byId("connection");
    connection.className = "connection " + kind;
    connection.textContent = text;
}

// The MQTT broker's connection, when kelvaned has one: {"connected": BOOL}, or null.
function showMqtt(mqtt) {
    const line = byId("mqtt");
    line.hidden = mqtt === null;
    if (mqtt === null)
        return;
    line.className = "connection " + (mqtt.connected ? "live" : "lost");
    line.textContent = mqtt.connected ? "MQTT broker connected" : "MQTT broker not connected";
}

function connect() {
    const events = new EventSource("api/events");
    events.addEventListener("fleet", (event) => {
        showConnection("live", "live");
        const fleet = JSON.parse(event.data);
        showFleet(fleet);
        showMqtt(fleet.mqtt);
    });
    events.addEventListener("monitor", (event) => showChange(JSON.parse(event.data)));
    events.addEventListener("mqtt", (event) => showMqtt(JSON.parse(event.data)));
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

// The token kept for this tab, or else the one remembered on this device.
function heldToken() {
    return sessionStorage.getItem(TOKEN_KEY) || localStorage.getItem(TOKEN_KEY);
}

// Keeps the token for the tab, or on this device when the user asked for that.
function keepToken(token, remember) {
    forgetToken();
    (remember ? localStorage : sessionStorage).setItem(TOKEN_KEY, token);
    byId("forget-token").hidden = false;
}

function forgetToken() {
    sessionStorage.removeItem(TOKEN_KEY);
    localStorage.removeItem(TOKEN_KEY);
    byId("forget-token").hidden = true;
}

// Asks for the token in the page's dialog; { token, remember }, or null when it was cancelled.
function askToken() {
    if (pendingToken)
        return pendingToken;
    const dialog = byId("token-dialog");
    const input = byId("token");
    const remember = byId("token-remember");
    pendingToken = new Promise((resolve) => {
        const finish = (answer) => {
            byId("token-form").removeEventListener("submit", submit);
            byId("token-cancel").removeEventListener("click", cancel);
            dialog.removeEventListener("cancel", cancel);
            input.value = "";
            remember.checked = false;
            if (dialog.open)
                dialog.close();
            pendingToken = null;
            resolve(answer);
        };
        const submit = (event) => {
            event.preventDefault();
            const token = input.value.trim();
            finish(token ? { token, remember: remember.checked } : null);
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

// Posts an operation to path, asking for the token when kelvaned wants one. The answer as
// { body } (kelvaned's JSON, whatever its status), or { text } when there is none to read.
async function post(path, operation) {
    for (let asked = false; ;) {
        const token = heldToken();
        const headers = { "Content-Type": "application/json" };
        if (token)
            headers.Authorization = "Bearer " + token;
        let response;
        let body = null;
        try {
            response = await fetch(path, { method: "POST", headers,
                                           body: JSON.stringify(operation.body || {}) });
            body = await response.json().catch(() => null);
        } catch (error) {
            return { text: "failed: kelvaned did not answer" };
        }
        if (response.status === 401 && !asked) {
            asked = true;
            const given = await askToken();
            if (!given)
                return { text: "not sent: no token given" };
            keepToken(given.token, given.remember);
            continue;
        }
        if (response.status === 403 && token) {
            // Forgotten, so that the next operation asks again.
            forgetToken();
            return { text: "refused by kelvaned: the token is wrong" };
        }
        if (body && typeof body.ok === "boolean")
            return { body };
        const reason = body && typeof body.error === "string" ? body.error
            : "HTTP status " + response.status;
        return { text: "failed: " + reason };
    }
}

// A monitor's answer as the row's result.
function monitorOutcome(answer) {
    if (!answer.body)
        return { ok: false, text: answer.text };
    return answer.body.ok ? { ok: true, text: "done" }
        : { ok: false, text: "failed: " + errorWords(answer.body.error) };
}

// A group's answer: "done on 12 monitors", or which failed and why.
function groupOutcome(answer) {
    if (!answer.body)
        return { ok: false, text: answer.text };
    const results = Array.isArray(answer.body.results) ? answer.body.results : [];
    const failed = results.filter((r) => !r.ok);
    if (answer.body.ok && failed.length === 0)
        return { ok: true, text: "done on " + results.length + " monitors" };
    const which = failed.map((r) => (r.monitor || r.name || r.target) + ": " + errorWords(r.error));
    return { ok: false, text: "failed on " + failed.length + " of " + results.length +
             (which.length ? ": " + which.join("; ") : "") };
}

// Runs one operation for a row or a group: asks first where it must, keeps the buttons off
// while it runs, then shows its result.
async function operate(target, operation, button) {
    if (target.busy)
        return;
    if (operation.confirm && !window.confirm(operation.confirm(target.what)))
        return;
    const result = target.result;
    setBusy(target, true);
    result.className = "value busy";
    result.textContent = operation.busy;
    const answer = await post(target.path + "/" + operation.path, operation);
    const outcome = target.outcome(answer);
    setBusy(target, false);
    result.className = "value " + (outcome.ok ? "done" : "failed");
    result.textContent = outcome.text;
    refreshLog();
    // A disabled button loses the focus; the keyboard user gets it back where it was.
    if (document.activeElement === document.body && button.isConnected)
        button.focus();
}

function setBusy(target, busy) {
    target.busy = busy;
    target.li.classList.toggle("busy", busy);
    target.li.setAttribute("aria-busy", String(busy));
    for (const button of target.buttons)
        button.disabled = busy;
}

// One listener for every row's buttons: the operations, and on a phone the row's opening.
function onMonitorClick(event) {
    const button = event.target.closest("button");
    const li = button && button.closest(".monitor");
    if (!li)
        return;
    if (button.classList.contains("more")) {
        const open = li.classList.toggle("open");
        button.setAttribute("aria-expanded", String(open));
        return;
    }
    const row = rows.get(li.dataset.name);
    row.what = row.name;
    row.path = "api/monitors/" + encodeURIComponent(row.name);
    row.result = row.cells.result;
    row.outcome = monitorOutcome;
    operate(row, OPERATIONS[Number(button.dataset.operation)], button);
}

// The groups kelvaned defines, each with the operations of a monitor; nothing when kelvaned
// has none to tell (404).
const groups = new Map(); // name -> group

async function loadGroups() {
    let body = null;
    try {
        const response = await fetch("api/groups");
        body = response.ok ? await response.json() : null;
    } catch (error) {
        body = null;
    }
    const list = body && Array.isArray(body.groups) ? body.groups : [];
    const items = list.map((g) => {
        let group = groups.get(g.name);
        if (!group) {
            const li = byId("group").content.firstElementChild.cloneNode(true);
            group = { li, busy: false, buttons: [...li.querySelectorAll("button")],
                      result: li.querySelector(".result .value"), outcome: groupOutcome };
            li.querySelector(".group-name").textContent = g.name;
            li.querySelector(".actions").setAttribute("aria-label", "Operations on " + g.name);
            group.buttons.forEach((button, i) =>
                button.setAttribute("aria-label", OPERATIONS[i].label + " on " + g.name));
            li.dataset.name = g.name;
        }
        const count = g.monitors.length;
        group.what = count + (count === 1 ? " monitor of " : " monitors of ") + g.name;
        group.path = "api/groups/" + encodeURIComponent(g.name);
        setText(group.li.querySelector(".members"),
                count + (count === 1 ? " monitor: " : " monitors: ") + g.monitors.join(", "));
        return [g.name, group];
    });
    groups.clear();
    for (const [name, group] of items)
        groups.set(name, group);
    byId("group-list").replaceChildren(...items.map(([, group]) => group.li));
    byId("groups").hidden = items.length === 0;
}

function onGroupClick(event) {
    const button = event.target.closest("button[data-operation]");
    const li = button && button.closest(".group");
    if (li)
        operate(groups.get(li.dataset.name), OPERATIONS[Number(button.dataset.operation)], button);
}

// Asks for the log soon: at once when it was last asked for a second ago or more.
function refreshLog() {
    if (logAbsent || logTimer)
        return;
    const wait = Math.max(0, logLast + LOG_GAP_MS - Date.now());
    logTimer = setTimeout(() => {
        logTimer = null;
        logLast = Date.now();
        loadLog();
    }, wait);
}

async function loadLog() {
    let body = null;
    try {
        const response = await fetch("api/log?limit=" + LOG_LIMIT);
        if (response.status === 404) {
            logAbsent = true;
            byId("log").hidden = true;
            return;
        }
        body = response.ok ? await response.json() : null;
    } catch (error) {
        return;
    }
    if (!body || !Array.isArray(body.operations))
        return;
    const items = body.operations.slice(0, LOG_LIMIT).map((entry) => {
        const li = document.createElement("li");
        li.className = entry.ok ? "done" : "failed";
        const part = (name, text) => {
            const span = document.createElement("span");
            span.className = name;
            span.textContent = text;
            return span;
        };
        // "1.2 s, by ops-phone via api": its label, else the address it came from.
        const who = entry.label || entry.address;
        const how = [typeof entry.seconds === "number" ? entry.seconds.toFixed(1) + " s," : "",
                     who ? "by " + who : "", entry.face ? "via " + entry.face : ""];
        li.append(part("when", clock(entry.ended, true)), " ",
                  part("subject", entry.monitor), " ", part("operation", entry.operation), " ",
                  part("outcome", entry.ok ? "done" : "failed: " + errorWords(entry.error)), " ",
                  part("who", how.filter(Boolean).join(" ")));
        return li;
    });
    byId("log-list").replaceChildren(...items);
    byId("log").hidden = false;
}

function tick() {
    for (const row of rows.values())
        setText(row.cells.last, ago(row.monitor.last_ok));
}

byId("lines").addEventListener("click", onMonitorClick);
byId("group-list").addEventListener("click", onGroupClick);
byId("filter").addEventListener("input", applyFilter);
byId("problems").checked = sessionStorage.getItem(PROBLEMS_KEY) === "1";
byId("problems").addEventListener("change", onProblemsSwitch);
byId("forget-token").hidden = !heldToken();
byId("forget-token").addEventListener("click", forgetToken);
// The log is open where there is room for it; on a phone it opens on a tap.
byId("log-details").open = window.matchMedia("(min-width: 821px)").matches;
window.addEventListener("hashchange", onHashChange);
setInterval(tick, 1000);
setInterval(refreshLog, LOG_EVERY_MS);
connect();
