// The page's worker: holds the calculator (the library in WebAssembly) and answers one
// request at a time, so that typing never waits for a search or a design.
//
// Messages in:
//   {type: "init", module: WebAssembly.Module, stop: SharedArrayBuffer | null}
//   {type: "compute", id, options: [{name, text}], design: boolean}
// Messages out, for each compute in this order:
//   {type: "record", id, refusals, json, text, designable}   (or {type: "stopped", id})
//   {type: "design", id, design, plots}                       (when the design was asked)
//   {type: "files", id, files}                                (its coefficient files)
//   {type: "done", id}
// The stop cell holds the id of the page's newest request: while it differs from the
// request at hand, the library's stop flag is set at the search's next event, and the
// design is not begun.
/* global createQuillmere */
"use strict";

importScripts("quillmere.js");

/** The coefficient files offered for download: format, file name. */
const DOWNLOADS = [["json", "coefficients.json"], ["csv", "coefficients.csv"], ["c", "coefficients.h"]];

/** Points of each plotted response. */
const POINTS = 2048;

let stopCell = null;
let current = 0;
let ready = null;

function stopAsked() {
  return stopCell !== null && Atomics.load(stopCell, 0) !== current;
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

async function compute(message) {
  const quillmere = await ready;
  const calculator = quillmere.calculator;
  current = message.id;
  const list = new quillmere.OptionTextList();
  for (const option of message.options) list.push_back(option);
  const answer = calculator.solve(list);
  list.delete();
  if (answer.stopped) {
    postMessage({ type: "stopped", id: message.id });
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
    if (design.status === "stopped") {
      postMessage({ type: "stopped", id: message.id });
      return;
    }
    const plots = design.status === "ok" ? responses(calculator, design) : null;
    design.milliseconds = performance.now() - started;
    postMessage({ type: "design", id: message.id, design, plots }, plots ? buffersOf(plots) : []);
    // The coefficient files, as the command line's --coefficients writes them: after the
    // design is on its way to the page, which shows it meanwhile, and only while the
    // request is still the newest.
    if (design.status === "ok" && !stopAsked()) {
      const files = Object.fromEntries(DOWNLOADS.map(([format, name]) => [format, calculator.coefficients(format, name)]));
      postMessage({ type: "files", id: message.id, files });
    }
  }
  postMessage({ type: "done", id: message.id });
}

onmessage = (event) => {
  const message = event.data;
  if (message.type === "init") {
    stopCell = message.stop ? new Int32Array(message.stop) : null;
    ready = createQuillmere({
      // The page compiles the module once and hands it to every worker it starts.
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(message.module, imports).then((instance) => receive(instance, message.module));
        return {};
      },
      stopRequested: stopAsked,
    }).then((quillmere) => {
      quillmere.calculator = new quillmere.Calculator();
      postMessage({ type: "ready", version: quillmere.version() });
      return quillmere;
    });
  } else if (message.type === "compute") {
    compute(message).catch((error) => {
      postMessage({ type: "failed", id: message.id, message: String(error && error.message ? error.message : error) });
    });
  }
};
