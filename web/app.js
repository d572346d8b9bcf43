// The page: the form, the link, the worker that computes, and the results drawn from the
// command line's own JSON record.
import {
  FIELDS,
  applies,
  argumentsFromValues,
  field,
  fieldOfRefusal,
  optionsFromValues,
  queryFromValues,
  valuesFromQuery,
} from "./request.js";
import { drawPlots } from "./plots.js";
import { renderDesign, renderRecord } from "./results.js";

/** Quiet time after the last keystroke before the request is computed. */
const DEBOUNCE_MS = 150;
/** How long a superseded request may go on before its worker is replaced. */
const GRACE_MS = 250;

const form = document.getElementById("request");
const $ = (id) => document.getElementById(id);

// ---------------------------------------------------------------------------
// The form's values
// ---------------------------------------------------------------------------

function readForm() {
  const values = {};
  for (const f of FIELDS) {
    const element = $(f.name);
    values[f.name] = f.flag ? element.checked : element.value.trim();
  }
  return values;
}

function fillForm(values) {
  for (const f of FIELDS) {
    const element = $(f.name);
    if (f.flag) element.checked = Boolean(values[f.name]);
    else if (element.tagName === "SELECT" && ![...element.options].some((o) => o.value === values[f.name])) {
      // A value the list does not offer (from a link) is added, so that its refusal shows.
      element.add(new Option(values[f.name], values[f.name]));
      element.value = values[f.name];
    } else element.value = values[f.name];
  }
}

/** Shows and enables the fields that apply; the others keep their values for later. */
function showApplicable(values) {
  for (const f of FIELDS) {
    const element = $(f.name);
    const on = applies(f, values);
    element.disabled = !on;
    element.closest(".field").hidden = !on;
  }
}

// ---------------------------------------------------------------------------
// Refusals beside their fields
// ---------------------------------------------------------------------------

function clearRefusals() {
  for (const f of FIELDS) {
    $(`${f.name}-refusal`).hidden = true;
    $(f.name).removeAttribute("aria-invalid");
  }
  $("request-refusal").hidden = true;
}

function showRefusals(refusals, unknown = []) {
  clearRefusals();
  const general = [];
  for (const refusal of refusals) {
    const f = fieldOfRefusal(refusal);
    if (f && $(f.name).closest(".field").hidden === false) {
      const note = $(`${f.name}-refusal`);
      note.textContent = note.hidden ? refusal.message : `${note.textContent} ${refusal.message}`;
      note.hidden = false;
      $(f.name).setAttribute("aria-invalid", "true");
    } else general.push(refusal.message);
  }
  for (const name of unknown) general.push(`The link names '${name}', which is no field of this page; it is left out.`);
  if (general.length) {
    $("request-refusal").textContent = general.join(" ");
    $("request-refusal").hidden = false;
  }
}

// ---------------------------------------------------------------------------
// The worker: one request at a time, the newest waiting
// ---------------------------------------------------------------------------

const stopBuffer = globalThis.crossOriginIsolated && typeof SharedArrayBuffer === "function" ? new SharedArrayBuffer(4) : null;
const stopCell = stopBuffer ? new Int32Array(stopBuffer) : null;
let wasmModule = null;
let worker = null;
let inflight = null;
let pending = null;
let graceTimer = null;
let debounceTimer = null;
let nextId = 1;
let latestId = 0;
let linkUnknown = [];

/** What the tests and the curious can read: how long each answer took (and the worker's
 * steps of it), how long the module took to load, and whether the page is settled. */
const timings = [];
const load = {};
globalThis.quillmere = { timings, load, warmUp: { state: "none" }, stopping: stopCell ? "shared stop flag" : "worker restart", restarts: 0 };

function setState() {
  const busy = debounceTimer !== null || inflight !== null || pending !== null;
  document.documentElement.dataset.state = busy ? "busy" : "idle";
}

function startWorker() {
  worker = new Worker("worker.js");
  worker.onmessage = (event) => onAnswer(event.data);
  worker.onerror = (event) => {
    event.preventDefault();
    $("summary").textContent = `The calculator failed: ${event.message || "the worker stopped"}.`;
  };
  worker.postMessage({ type: "init", module: wasmModule, stop: stopBuffer });
}

function send(request) {
  inflight = request;
  request.sentAt = performance.now();
  if (stopCell) Atomics.store(stopCell, 0, request.id);
  // The time it is sent on the clock both sides share, for the worker's figure of how
  // long the request waited for it.
  const sent = performance.timeOrigin + request.sentAt;
  worker.postMessage({ type: "compute", id: request.id, options: request.options, design: request.design, sent });
}

function submit(request) {
  latestId = request.id;
  if (!inflight) {
    send(request);
  } else {
    // The request in flight is stopped through the library's stop flag; if it is still
    // busy after the grace time (a design, or no shared memory), its worker is replaced.
    pending = request;
    if (stopCell) Atomics.store(stopCell, 0, request.id);
    if (graceTimer === null) {
      graceTimer = setTimeout(() => {
        graceTimer = null;
        if (!inflight || !pending) return;
        worker.terminate();
        globalThis.quillmere.restarts += 1;
        startWorker();
        inflight = null;
        const next = pending;
        pending = null;
        send(next);
      }, GRACE_MS);
    }
  }
  setState();
}

function finished(id) {
  if (!inflight || inflight.id !== id) return;
  inflight = null;
  clearTimeout(graceTimer);
  graceTimer = null;
  if (pending) {
    const next = pending;
    pending = null;
    send(next);
  }
  setState();
}

function onAnswer(message) {
  switch (message.type) {
    case "ready":
      Object.assign(load, message.steps);
      $("version").textContent = `Library ${message.version}.`;
      return;
    case "warm-up":
      globalThis.quillmere.warmUp = { state: message.state, steps: message.steps, designed: message.designed };
      return;
    case "record":
      if (message.id === latestId) showRecord(message);
      return;
    case "design":
      if (message.id === latestId) showDesign(message);
      else worker.postMessage({ type: "drawn", id: message.id });
      return;
    case "files":
      if (message.id === latestId) showDownloads(message.files);
      return;
    case "failed":
      if (message.id === latestId) $("summary").textContent = `The calculation failed: ${message.message}`;
      finished(message.id);
      return;
    case "stopped":
    case "done": {
      const timing = timings.find((t) => t.id === message.id);
      if (timing) timing.steps = message.steps;
      finished(message.id);
      return;
    }
    default:
  }
}

// ---------------------------------------------------------------------------
// Results
// ---------------------------------------------------------------------------

let shown = null; // the request whose results are on the page

function showRecord(message) {
  const arrived = performance.now();
  const request = inflight && inflight.id === message.id ? inflight : null;
  if (message.refusals.length) {
    showRefusals(message.refusals, linkUnknown);
    $("held").hidden = shown === null;
    if (shown === null) $("summary").textContent = "The request is refused: see the marked field.";
    return;
  }
  showRefusals([], linkUnknown);
  $("held").hidden = true;
  shown = request;
  // The address first, while the page's layout is still clean: replaceState keeps the
  // scroll position, which lays the page out at once if anything has changed.
  const query = request ? queryFromValues(request.values) : "";
  if (request) history.replaceState(null, "", query || location.pathname);
  const record = JSON.parse(message.json);
  renderRecord(record);
  $("result-json").textContent = message.json;
  $("result-text").textContent = message.text;
  if (request) {
    $("share-link").href = location.href;
    $("share-link").textContent = location.href;
    $("command-line").textContent = `quillmere --format json ${argumentsFromValues(request.values).map(shellWord).join(" ")}`;
    timings.push({ id: request.id, query, recordArrived: arrived - request.sentAt, record: performance.now() - request.sentAt });
  }
  if (!request || !request.design || !message.designable) {
    renderDesign(null, request && request.design ? "No factors, so no filters." : "Filters are designed when 'Design the filters' is on.");
    drawPlots($("plots"), null, null);
  } else {
    $("design-summary").textContent = "Designing the filters…";
  }
  showDownloads(null);
}

/** The download links of the design's coefficient files; hidden without a design. */
function showDownloads(files) {
  const box = $("downloads");
  for (const link of box.querySelectorAll("a")) {
    if (link.href.startsWith("blob:")) URL.revokeObjectURL(link.href);
    const file = files && files[link.dataset.format];
    if (file) link.href = URL.createObjectURL(file);
    else link.removeAttribute("href");
  }
  box.hidden = !files;
}

function showDesign(message) {
  const arrived = performance.now();
  renderDesign(message.design);
  drawPlots($("plots"), message.design, message.plots);
  const request = inflight && inflight.id === message.id ? inflight : null;
  // When the design came from the worker, and when it was drawn: the charts draw in a
  // microtask of their own, queued before this one. Then the worker may write the
  // coefficient files.
  const timing = request && timings.length ? timings[timings.length - 1] : null;
  if (timing) timing.designArrived = arrived - request.sentAt;
  queueMicrotask(() => {
    if (timing) timing.design = performance.now() - request.sentAt;
    worker.postMessage({ type: "drawn", id: message.id });
  });
}

function shellWord(word) {
  return /^[A-Za-z0-9._+:=/-]+$/.test(word) ? word : `'${word.replace(/'/g, "'\\''")}'`;
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

function compute() {
  debounceTimer = null;
  const values = readForm();
  submit({ id: nextId++, values, options: optionsFromValues(values), design: values.design });
}

function onInput() {
  linkUnknown = [];
  showApplicable(readForm());
  clearTimeout(debounceTimer);
  debounceTimer = setTimeout(compute, DEBOUNCE_MS);
  setState();
}

async function compileModule() {
  const response = fetch("quillmere.wasm");
  if (WebAssembly.compileStreaming) {
    try {
      return await WebAssembly.compileStreaming(response);
    } catch {
      // A server that does not say application/wasm: compiled from the bytes below.
    }
  }
  return WebAssembly.compile(await (await fetch("quillmere.wasm")).arrayBuffer());
}

async function start() {
  const { values, unknown } = valuesFromQuery(location.search);
  linkUnknown = unknown;
  fillForm(values);
  showApplicable(values);
  form.addEventListener("input", onInput);
  form.addEventListener("change", onInput);
  form.addEventListener("submit", (event) => event.preventDefault());
  window.addEventListener("popstate", () => {
    fillForm(valuesFromQuery(location.search).values);
    onInput();
  });
  setState();
  const compiling = performance.now();
  wasmModule = await compileModule();
  load.compile = performance.now() - compiling;
  startWorker();
  compute();
}

start().catch((error) => {
  $("summary").textContent = `The calculator could not be loaded: ${error.message}`;
});

export { field };
