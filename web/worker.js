// The page's worker: holds the calculator (the library in WebAssembly) and answers one
// request at a time, so that typing never waits for a search or a design.
//
// Messages in:
//   {type: "init", module: WebAssembly.Module, stop: SharedArrayBuffer | null}
//   {type: "compute", id, options: [{name, text}], design: boolean, sent}
//   {type: "drawn", id}            (the page has drawn the design of request id, or passed it)
// Messages out, for each compute in this order:
//   {type: "record", id, refusals, json, text, designable}   (or {type: "stopped", id})
//   {type: "design", id, design, plots}                       (when the design was asked)
//   {type: "files", id, files}                                (its coefficient files, Blobs,
//                                                              once the page says "drawn")
//   {type: "done", id, steps}
// and once the module is ready {type: "ready", version, steps}; the warm-up (below) says
// {type: "warm-up", state: "started" | "stopped" | "done", steps, designed}. `steps` holds
// the milliseconds the worker spent in each step (see Steps below), so that the page's
// figures say where the time goes.
// The stop cell holds the id of the page's newest request: while it differs from the
// request at hand, the library's stop flag is set at the search's next event, and the
// design is not begun.
/* global createQuillmere */
"use strict";

importScripts("quillmere.js");

/** The coefficient files offered for download: format, file name, media type. */
const DOWNLOADS = [
  ["json", "coefficients.json", "application/json"],
  ["csv", "coefficients.csv", "text/csv"],
  ["c", "coefficients.h", "text/x-c"],
];

/** The longest the coefficient files wait for the page to say it has drawn the design. */
const DRAWN_WAIT_MS = 200;

/** Points of each plotted response. */
const POINTS = 2048;

/** The warm-up: requests designed once, with their coefficient files (and the first with
 * its responses), when the worker is first idle, so that the browser has compiled the search's and the design's hot loops
 * with its optimising compiler (it starts with a quick baseline compiler and recompiles
 * what runs often, however short each run) before the user's first design rather than
 * during it. A design cannot be stopped half-way from the page, so each is small (one or
 * two filters of 150 to 520 taps, a few milliseconds once compiled): a request sent meanwhile
 * waits for one of them at most. Plans of the page's usual rates, of even and odd lengths. */
const WARM_UP = [
  [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "48000"], ["stages", "2"], ["cost", ""], ["passband", "12k"]],
  [["INPUT_RATE", "48000"], ["OUTPUT_RATE", "44100"], ["stages", "2"], ["cost", ""], ["passband", "12k"]],
  [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "96000"], ["stages", "2"], ["cost", ""], ["passband", "12k"]],
  [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "32000"], ["stages", "2"], ["cost", ""], ["passband", "10k"]],
  [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "88200"], ["stages", "2"], ["cost", ""]],
  [["INPUT_RATE", "44100"], ["OUTPUT_RATE", "48000"], ["stages", "2"], ["cost", ""], ["passband", "12k"], ["attenuation", "60"]],
];

let stopCell = null;
let current = 0;
let ready = null;
/** The id of the last request answered. */
let answered = 0;
/** The warm-up's progress: the next of WARM_UP to design, the designs done, its
 * milliseconds so far, its calculator while under way, whether its next step is due. */
const warmUp = { next: 0, designed: 0, steps: null, calculator: null, scheduled: false };

function stopAsked() {
  return stopCell !== null && Atomics.load(stopCell, 0) !== current;
}

/** Whether the page has sent a request the worker has not answered: the warm-up gives
 * way to it. */
function requestWaiting() {
  return Atomics.load(stopCell, 0) !== answered;
}

/** The calculator's answer to a request given as the command line's options, [{name, text}]. */
function solve(quillmere, calculator, options) {
  const list = new quillmere.OptionTextList();
  for (const option of options) list.push_back(option);
  const answer = calculator.solve(list);
  list.delete();
  return answer;
}

/** A C++ list (embind's register_vector) as an array; the list is freed. */
function arrayOf(list) {
  const out = [];
  for (let i = 0; i < list.size(); i += 1) out.push(list.get(i));
  list.delete();
  return out;
}

/** The responses the plots draw: each stage's over its own band (0 .. half its upsampled
 * rate) and over the cascade's band (0 .. half the highest rate in the chain), where the
 * cascade's is the sum of its stages' in dB. */
function responses(calculator, design) {
  const chainTop = Math.max(...design.stages.flatMap((s) => [s.inputRateHz, s.outputRateHz])) / 2;
  const stages = [];
  const cascade = new Float64Array(POINTS);
  const cascadeRounded = design.quantized ? new Float64Array(POINTS) : null;
  design.stages.forEach((stage, index) => {
    if (stage.filter === "none") {
      stages.push(null);
      return;
    }
    const own = calculator.response(index, stage.upsampledRateHz / 2, POINTS, false);
    const ownRounded = design.quantized ? calculator.response(index, stage.upsampledRateHz / 2, POINTS, true) : null;
    const inChain = calculator.response(index, chainTop, POINTS, false);
    for (let k = 0; k < POINTS; k += 1) cascade[k] += inChain[k];
    if (cascadeRounded) {
      const rounded = calculator.response(index, chainTop, POINTS, true);
      for (let k = 0; k < POINTS; k += 1) cascadeRounded[k] += rounded[k];
    }
    stages.push({ toHz: stage.upsampledRateHz / 2, db: own, rounded: ownRounded });
  });
  return { stages, cascade: { toHz: chainTop, db: cascade, rounded: cascadeRounded } };
}

function buffersOf(plots) {
  const buffers = [];
  for (const curve of [...plots.stages, plots.cascade]) {
    if (!curve) continue;
    buffers.push(curve.db.buffer);
    if (curve.rounded) buffers.push(curve.rounded.buffer);
  }
  return buffers;
}

/** The page's word that it has drawn a design: awaited before the coefficient files are
 * written, so that writing them does not take a core from the drawing (on a machine of
 * few cores, the page, the worker and the browser's own threads share them). */
let drawnWaiter = null;

/** Resolves once the page says it has drawn request id's design, or after DRAWN_WAIT_MS. */
function drawn(id) {
  return new Promise((resolve) => {
    const done = () => {
      clearTimeout(timer);
      if (drawnWaiter && drawnWaiter.done === done) drawnWaiter = null;
      resolve();
    };
    const timer = setTimeout(done, DRAWN_WAIT_MS);
    drawnWaiter = { id, done };
  });
}

/** The milliseconds of a request's steps in the worker: queued (from the page's sending it
 * until the worker takes it up, as while the warm-up gives way), waiting for the module,
 * the search, the design, its responses, waiting for the page to draw it, its coefficient
 * files. */
class Steps {
  constructor() {
    this.last = performance.now();
    this.ms = {};
  }

  /** Adds the time since the last mark to `step`. */
  mark(step) {
    const now = performance.now();
    this.ms[step] = (this.ms[step] || 0) + (now - this.last);
    this.last = now;
  }
}

async function compute(message) {
  const steps = new Steps();
  if (message.sent) steps.ms.queued = Math.max(0, performance.timeOrigin + steps.last - message.sent);
  const quillmere = await ready;
  steps.mark("wait");
  const calculator = quillmere.calculator;
  current = message.id;
  const answer = solve(quillmere, calculator, message.options);
  steps.mark("solve");
  if (answer.stopped) {
    postMessage({ type: "stopped", id: message.id, steps: steps.ms });
    return;
  }
  const refusals = arrayOf(answer.refusals);
  postMessage({
    type: "record",
    id: message.id,
    refusals,
    json: answer.json,
    text: answer.text,
    designable: answer.designable,
  });
  if (message.design && answer.designable && !stopAsked()) {
    const started = performance.now();
    const design = calculator.design();
    design.stages = arrayOf(design.stages);
    steps.mark("design");
    if (design.status === "stopped") {
      postMessage({ type: "stopped", id: message.id, steps: steps.ms });
      return;
    }
    const plots = design.status === "ok" ? responses(calculator, design) : null;
    steps.mark("responses");
    design.milliseconds = performance.now() - started;
    const shown = design.status === "ok" ? drawn(message.id) : null;
    postMessage({ type: "design", id: message.id, design, plots }, plots ? buffersOf(plots) : []);
    // The coefficient files, as the command line's --coefficients writes them: once the
    // page has drawn the design, and only while the request is still the newest: a request
    // sent meanwhile waits for one file at most.
    if (shown) {
      await shown;
      steps.mark("drawing");
      // As Blobs made here: the page only names them (a Blob of a long text takes
      // milliseconds to make, which the page's thread would take from drawing).
      const files = {};
      for (const [format, name, type] of DOWNLOADS) {
        if (stopAsked()) break;
        files[format] = new Blob([calculator.coefficients(format, name)], { type });
      }
      if (Object.keys(files).length === DOWNLOADS.length) postMessage({ type: "files", id: message.id, files });
      steps.mark("files");
    }
  }
  postMessage({ type: "done", id: message.id, steps: steps.ms });
}

/** Starts or resumes the warm-up in the worker's idle time, one request per task, each
 * begun only while no request of the page waits. Only where the page shares the stop cell
 * with the worker, which tells the worker of a waiting request; the warm-up resumes when
 * the worker is idle again. */
function scheduleWarmUp() {
  if (stopCell === null || warmUp.scheduled || warmUp.next >= WARM_UP.length) return;
  warmUp.scheduled = true;
  setTimeout(warmUpStep, 0);
}

/** Designs the next warm-up request and its responses and files on a calculator of its
 * own, so that the page's last request is left as it was; nothing is posted but the
 * warm-up's progress. Its search stops when a request comes meanwhile (the design is
 * small); the request is then answered and the warm-up resumes after it. */
async function warmUpStep() {
  warmUp.scheduled = false;
  const quillmere = await ready;
  if (requestWaiting()) return;
  if (!warmUp.calculator) {
    warmUp.calculator = new quillmere.Calculator();
    warmUp.steps = new Steps();
    postMessage({ type: "warm-up", state: "started" });
  }
  const steps = warmUp.steps;
  steps.last = performance.now();
  const calculator = warmUp.calculator;
  current = answered;
  const stopped = () => {
    steps.mark("stopped");
    postMessage({ type: "warm-up", state: "stopped", steps: steps.ms });
    return true;
  };
  const answer = solve(quillmere, calculator, WARM_UP[warmUp.next].map(([name, text]) => ({ name, text })));
  arrayOf(answer.refusals);
  steps.mark("solve");
  if (answer.stopped || stopAsked()) return stopped();
  const design = answer.designable ? calculator.design() : { status: "", stages: [] };
  if (answer.designable) design.stages = arrayOf(design.stages);
  steps.mark("design");
  if (design.status === "stopped" || stopAsked()) return stopped();
  if (design.status === "ok") {
    warmUp.designed += 1;
    // The responses' grids follow the rates rather than the lengths, and are as long for
    // these small filters as for the page's: drawn for the first request only.
    if (warmUp.next === 0) {
      responses(calculator, design);
      steps.mark("responses");
    }
    for (const [format, name] of DOWNLOADS) {
      if (stopAsked()) return stopped();
      calculator.coefficients(format, name);
    }
    steps.mark("files");
  }
  warmUp.next += 1;
  if (warmUp.next < WARM_UP.length) {
    scheduleWarmUp();
    return false;
  }
  calculator.delete();
  warmUp.calculator = null;
  postMessage({ type: "warm-up", state: "done", steps: steps.ms, designed: warmUp.designed });
  return false;
}

onmessage = (event) => {
  const message = event.data;
  if (message.type === "init") {
    stopCell = message.stop ? new Int32Array(message.stop) : null;
    const steps = new Steps();
    ready = createQuillmere({
      // The page compiles the module once and hands it to every worker it starts.
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(message.module, imports).then((instance) => {
          steps.mark("instantiate");
          receive(instance, message.module);
        });
        return {};
      },
      stopRequested: stopAsked,
    }).then((quillmere) => {
      quillmere.calculator = new quillmere.Calculator();
      steps.mark("start");
      postMessage({ type: "ready", version: quillmere.version(), steps: steps.ms });
      return quillmere;
    });
  } else if (message.type === "drawn") {
    if (drawnWaiter && drawnWaiter.id === message.id) drawnWaiter.done();
  } else if (message.type === "compute") {
    compute(message)
      .catch((error) => {
        postMessage({ type: "failed", id: message.id, message: String(error && error.message ? error.message : error) });
      })
      .finally(() => {
        answered = message.id;
        scheduleWarmUp();
      });
  }
};
